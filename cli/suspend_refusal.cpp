// The refusal line of a Ctrl-Z, set up before any signal can need it.
#include "cli/suspend_refusal.h"

namespace cli {
namespace {

constexpr const char* kRefusalEn =
    "flashtool-cli: cannot be suspended while a phone is being rewritten: a pause now leaves it "
    "unable to start; press Ctrl-Z again once it is done\n";
constexpr const char* kRefusalZh =
    "flashtool-cli: 正在寫入手機,無法暫停:現在暫停會讓手機無法開機;寫入完成後再按 Ctrl-Z\n";

}  // namespace

Suspend_Refusal::Suspend_Refusal(Language language, bool (*at_risk)(const void*) noexcept,
                                 const void* context) {
    m_guard.at_risk = at_risk;
    m_guard.context = context;
    m_guard.refusal = language == Language::kEnglish ? kRefusalEn : kRefusalZh;
    platform::Set_Suspend_Guard(&m_guard);
}

Suspend_Refusal::~Suspend_Refusal() {
    platform::Set_Suspend_Guard(nullptr);
}

}  // namespace cli
