// The queue of view calls between the update's worker and the window's
// thread, on its own: a window that closes while a call runs or before calls
// come, and calls run from inside another call's modal box.
#include "download/view_call_queue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <future>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

// Generous: the machine may be loaded; a pass never waits this long.
constexpr auto kLimit = 20s;

// The window's thread as the tests play it: each wake is an event, and an
// event loop (the window's own, or a modal box's nested one) runs the queue
// once for each event, as the Qt and the Win32 windows do.
class Window_Events {
  public:
    std::function<void()> Wake() {
        return [this] {
            {
                const std::lock_guard<std::mutex> lock(m_mutex);
                ++m_wakes;
            }
            m_arrived.notify_all();
        };
    }
    // Runs events until done() holds; false when it does not within kLimit.
    bool Loop_Until(View_Call_Queue& queue, const std::function<bool()>& done) {
        const auto limit = std::chrono::steady_clock::now() + kLimit;
        while (!done()) {
            std::unique_lock<std::mutex> lock(m_mutex);
            if (!m_arrived.wait_until(lock, limit, [&] { return m_wakes > 0; }))
                return false;
            --m_wakes;
            lock.unlock();
            queue.Run_Pending();
        }
        return true;
    }
    int Wakes() {
        const std::lock_guard<std::mutex> lock(m_mutex);
        return m_wakes;
    }

  private:
    std::mutex m_mutex;
    std::condition_variable m_arrived;
    int m_wakes = 0;
};

// Whether a promise was kept within kLimit.
bool Kept(std::future<void>& promised) {
    return promised.wait_for(kLimit) == std::future_status::ready;
}

// The window closes from inside the completion box's own loop: the worker
// waiting for that box goes on at once, while the box is still open, and
// what it posts or asks from then on is dropped and goes unanswered.
TEST(ViewCallQueue, ClosingWhileACallRunsReleasesTheWorkerAndDropsWhatFollows) {
    Window_Events events;
    View_Call_Queue queue(events.Wake());
    std::promise<void> worker_went_on;
    std::future<void> went_on = worker_went_on.get_future();
    bool went_on_while_box_open = false;
    bool box_done = false;
    bool box_answered = true;
    bool posted_ran = false;
    std::optional<int> answer = 0;
    std::thread worker([&] {
        box_answered = queue.Call_And_Wait([&] {
            queue.Close();
            went_on_while_box_open = Kept(went_on);
            box_done = true;
        });
        queue.Post([&] { posted_ran = true; });
        answer = queue.Ask<int>([] { return 1; });
        worker_went_on.set_value();
    });
    EXPECT_TRUE(events.Loop_Until(queue, [&] { return box_done; }));
    worker.join();
    queue.Run_Pending();
    EXPECT_TRUE(went_on_while_box_open) << "the worker waited for a closed window's box";
    EXPECT_FALSE(box_answered);
    EXPECT_FALSE(posted_ran);
    EXPECT_EQ(answer, std::nullopt);
    EXPECT_TRUE(queue.Closed());
}

// Calls still queued when the window closes never run; after Close a post
// neither runs nor wakes the window, and a question returns unanswered at
// once instead of waiting for a window that is gone.
TEST(ViewCallQueue, PostAfterCloseIsDroppedAndQuestionsReturnAtOnce) {
    Window_Events events;
    View_Call_Queue queue(events.Wake());
    std::vector<std::string> ran;
    queue.Post([&] { ran.push_back("queued before the close"); });
    ASSERT_EQ(events.Wakes(), 1);
    queue.Close();
    queue.Post([&] { ran.push_back("posted after the close"); });
    EXPECT_FALSE(queue.Call_And_Wait([&] { ran.push_back("waited for after the close"); }));
    EXPECT_EQ(queue.Ask<std::string>([] { return std::string("answer"); }), std::nullopt);
    queue.Run_Pending();
    queue.Wait_And_Run(0ms);
    EXPECT_TRUE(ran.empty()) << ran.front();
    EXPECT_EQ(events.Wakes(), 1) << "a closed queue woke the window";
}

// A call that opens a modal box runs an event loop of its own; the calls
// queued behind it, and a question the worker asks meanwhile, run inside that
// loop, in order, each once, and the outer loop takes up nothing twice.
TEST(ViewCallQueue, CallsQueuedBehindAModalBoxRunInsideItsLoopInOrder) {
    Window_Events events;
    View_Call_Queue queue(events.Wake());
    std::vector<std::string> log;  // the window's thread only
    std::promise<void> posted;
    std::future<void> all_posted = posted.get_future();
    bool box_closed = false;
    std::optional<int> answer;
    const auto has = [&](const std::string& entry) {
        return std::find(log.begin(), log.end(), entry) != log.end();
    };
    std::thread worker([&] {
        queue.Post([&] {
            log.push_back("box opens");
            const bool answered = events.Loop_Until(queue, [&] { return has("question"); });
            log.push_back(answered ? "box closes" : "box closes, the question unasked");
            box_closed = true;
        });
        queue.Post([&] { log.push_back("message 1"); });
        queue.Post([&] { log.push_back("message 2"); });
        posted.set_value();
        answer = queue.Ask<int>([&] {
            log.push_back("question");
            return 7;
        });
    });
    // All three are queued before the window's thread takes the first.
    ASSERT_TRUE(Kept(all_posted));
    EXPECT_TRUE(events.Loop_Until(queue, [&] { return box_closed; }));
    worker.join();
    queue.Run_Pending();
    EXPECT_EQ(log, (std::vector<std::string>{"box opens", "message 1", "message 2", "question",
                                             "box closes"}));
    EXPECT_EQ(answer, 7);
}

}  // namespace
