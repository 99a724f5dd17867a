// A window's journal: opening said in its words, the writer for its phones,
// and a forwarder that can be swapped while the window runs.
#include "journal/journal_service.h"

#include <algorithm>
#include <utility>

#include "journal/journal_forwarder.h"

std::unique_ptr<Journal_Service> Journal_Service::Open(const std::string& path, const Say& say) {
    if (path.empty()) {
        say("no journal is kept: there is no folder for it (no home folder)");
        return nullptr;
    }
    Journal_Store::Opened opened = Journal_Store::Open(path);
    if (!opened.set_aside.empty())
        say("the journal " + path + " was damaged; it was set aside as " + opened.set_aside +
            " and a new one begun");
    if (!opened.store) {
        say("no journal is kept: " + opened.problem);
        return nullptr;
    }
    return std::unique_ptr<Journal_Service>(new Journal_Service(std::move(opened.store), path));
}

Journal_Service::Journal_Service(std::unique_ptr<Journal_Store> store, std::string path)
    : m_path(std::move(path)) {
    m_writer = std::make_unique<Journal_Writer>(std::move(store),
                                                [this](const std::string& line) { Pass_On(line); });
    m_writer->On_Written([this] {
        std::shared_ptr<Journal_Forwarder> forwarder;
        {
            const std::lock_guard lock(m_mutex);
            forwarder = m_forwarder;
        }
        if (forwarder)
            forwarder->Poke();
    });
}

Journal_Service::~Journal_Service() {
    m_writer.reset();  // every record written; its hook pokes no more
    Forward_To("");
    for (std::thread& retiring : m_retiring)
        retiring.join();
}

void Journal_Service::Say_To(Journal_Service::Say say) {
    const std::lock_guard lock(m_say_mutex);
    m_say = std::move(say);
    if (!m_say)
        return;
    for (const std::string& line : m_unsaid)
        m_say(line);
    m_unsaid.clear();
}

void Journal_Service::Pass_On(const std::string& line) {
    // Called under the lock, so that once Say_To has taken a callback away
    // it is never called again (a window going away takes its own).
    const std::lock_guard lock(m_say_mutex);
    if (m_say)
        m_say(line);
    else
        m_unsaid.push_back(line);
}

void Journal_Service::Forward_To(const std::string& conninfo) {
    std::shared_ptr<Journal_Forwarder> next;
    if (!conninfo.empty()) {
        // The outbox has a connection of its own beside the writer's.
        Journal_Store::Opened outbox = Journal_Store::Open(m_path);
        if (!outbox.store)
            Pass_On("the journal's records cannot be forwarded: " + outbox.problem);
        else
            next = std::make_shared<Journal_Forwarder>(
                std::move(outbox.store), conninfo,
                [this](const Forward_Status&, const std::string& line) { Pass_On(line); });
    }
    std::shared_ptr<Journal_Forwarder> last;
    {
        const std::lock_guard lock(m_mutex);
        last = std::exchange(m_forwarder, std::move(next));
    }
    // Its thread may be in a statement to a server that is slow to answer.
    if (last)
        m_retiring.emplace_back([last = std::move(last)]() mutable { last.reset(); });
}

int Journal_Service::Records_Waiting() const {
    const std::lock_guard lock(m_mutex);
    return m_forwarder ? std::max(0, m_forwarder->Status().waiting) : -1;
}

std::string Journal_Service::Server_Where() const {
    const std::lock_guard lock(m_mutex);
    return m_forwarder ? m_forwarder->Where() : std::string();
}
