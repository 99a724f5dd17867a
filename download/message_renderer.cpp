// Message_Renderer: which calls of the window each event of the report makes.
#include "download/message_renderer.h"

#include <climits>

#include "download/notice_texts.h"

namespace {

using report::Notice;
using report::Step;
using report::Update_Event;

// The bar counts in an int: a total beyond that is drawn to scale.
int Bar_Units(std::uint64_t bytes, std::uint64_t total) {
    if (total <= static_cast<std::uint64_t>(INT_MAX))
        return static_cast<int>(bytes);
    return static_cast<int>(static_cast<long double>(bytes) * INT_MAX / total);
}

void Draw_Bytes(ProgressBar& bar, std::uint64_t done, std::uint64_t total) {
    // The count starts at 0 when the transfer's total is known (and only
    // then: every block moves it on).
    if (done == 0) {
        bar.Set_Range(0, Bar_Units(total, total));
        bar.Set_Position(0);
        return;
    }
    bar.Set_Position(done >= total ? 0 : Bar_Units(done, total));
}

}  // namespace

void Message_Renderer::On_Bytes(std::uint64_t done, std::uint64_t total) {
    Draw_Bytes(m_view.Progress_Bar(), done, total);
}

void Progress_Bar_Renderer::On_Bytes(std::uint64_t done, std::uint64_t total) {
    Draw_Bytes(m_bar, done, total);
}

void Message_Area_Renderer::On_Event(const Update_Event& event) {
    switch (event.kind) {
        case Update_Event::Kind::kNotice: {
            const report::Notice_Event& notice = event.notice;
            // A blank line sets the found port and the go-ahead apart.
            if (notice.id == Notice::kFoundPort)
                m_output.Print_Str_to_Memo("");
            if (text::Follows_Language(notice.id))
                m_output.Print_Bilingual_to_Memo(text::Notice_Text(notice));
            else
                m_output.Print_Str_to_Memo(text::Notice_Text(notice).english);
            if (notice.id == Notice::kReadyToUpdate)
                m_output.Print_Str_to_Memo("");
            return;
        }
        case Update_Event::Kind::kImageHeader:
            m_output.Clean_Tedit();
            return;
        case Update_Event::Kind::kImageVersion:
            m_output.Print_Str_to_Tedit(Version_Field_Text(event.bytes));
            return;
        case Update_Event::Kind::kPhoneVersion:
            m_output.Print_Str_to_OldTedit(Version_Field_Text(event.bytes));
            return;
        case Update_Event::Kind::kPhoneVersionFromDump:
            m_output.Clean_OldTedit();
            m_output.Print_Str_to_OldTedit(Version_Field_Text(event.bytes));
            return;
        default:
            return;
    }
}

void Message_Renderer::On_Event(const Update_Event& event) {
    switch (event.kind) {
        case Update_Event::Kind::kNotice:
            if (event.notice.id == Notice::kUpdateOk) {
                m_view.Show_Message_Box(text::Notice_Text(event.notice));
                return;
            }
            break;
        case Update_Event::Kind::kStepBegan:
            switch (event.step) {
                case Step::kUpdate:
                    m_view.Set_Elapsed_Seconds(0);
                    m_view.Button_Control(false);
                    m_view.Clean_Memo();
                    m_view.Clean_OldTedit();
                    return;
                case Step::kCheckVersion:
                    m_view.Progress_Bar().Set_Position(0);
                    m_view.Set_Progress_Visible(true);
                    return;
                case Step::kProgramming:
                    m_view.Set_Timer1_Enabled(true);
                    return;
                default:
                    return;
            }
        case Update_Event::Kind::kStepEnded:
            switch (event.step) {
                case Step::kUpdate:
                    m_view.Button_Control(true);
                    return;
                case Step::kEndSession:
                    m_view.Set_Progress_Visible(false);
                    return;
                case Step::kProgramming:
                    m_view.Set_Timer1_Enabled(false);
                    return;
                default:
                    return;
            }
        default:
            break;
    }
    m_area.On_Event(event);
}
