// A rack of virtual phones whose cables go in and out when a test says so:
// each phone is a `virtual-phone` process on a pseudo-terminal of its own,
// reached through symbolic links that appear when it is plugged in and go
// when it is pulled (the host's open port hangs up then). A phone can come
// back under another link, as a real one comes back as ttyACM1.
//
//   Phone_Rack rack(folder);                       // links go into folder
//   int a = rack.Add({"phone-a", "phone-a2"});     // its 1st and later plug-ins
//   int b = rack.Add({"phone-b"}, {"--baud", "115200"});
//   rack.Plug({a, b});                             // both at once
//   ... a station or port watcher sees folder/phone-a, folder/phone-b ...
//   rack.Unplug({a});
//   rack.Plug({a});                                // now folder/phone-a2
//   rack.Play({{ms(0), a, Rack_Step::kUnplug}, {ms(500), a, Rack_Step::kPlug}});
//   rack.Wait_Played();
//
// Each phone has its own files (rack.Files(i): flash, state, log). Its log
// says when its link appeared ("plugged-in") and when the host's first
// bytes came ("first-host-byte"), each with its time in microseconds. See
// virtual_phone_process.h for finding the program.
#pragma once

#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <initializer_list>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/virtual_phone_process.h"

namespace test_support {

// How long a phone may take to make or remove its device and link after its
// signal; generous for a loaded machine (it takes a millisecond).
inline constexpr std::chrono::milliseconds kRackCableLimit{5000};

struct Rack_Step {
    enum Action { kPlug, kUnplug };
    std::chrono::milliseconds at{0};  // after Play was called
    int phone = 0;
    Action action = kPlug;
};

class Phone_Rack {
  public:
    // Links are made in folder (which must exist).
    explicit Phone_Rack(std::filesystem::path folder) : m_folder(std::move(folder)) {}
    ~Phone_Rack() { Stop(); }
    Phone_Rack(const Phone_Rack&) = delete;
    Phone_Rack& operator=(const Phone_Rack&) = delete;

    // Starts a phone with its cable out and waits until it is ready. links: names in the folder,
    // one per plug-in, the last for every later one. extra: more of the phone's options. Returns
    // its number (0, 1, ...), or -1 when it did not start.
    int Add(std::vector<std::string> links, std::vector<std::string> extra = {},
            std::string* error = nullptr) {
        auto phone = std::make_unique<Phone>();
        for (const std::string& link : links)
            phone->links.push_back((m_folder / link).string());
        std::vector<std::string> args = phone->files.args();
        for (const std::string& link : phone->links) {
            args.push_back("--link");
            args.push_back(link);
        }
        args.insert(args.end(), extra.begin(), extra.end());
        if (phone->links.empty() || !phone->process.start_unplugged(args, error))
            return -1;
        // Ready once it says so: a plug-in is then its own cable's time, not
        // the program's start-up.
        if (!Wait_For_Log(phone->files.log, "unplugged at start",
                          static_cast<int>(kRackCableLimit.count()))) {
            if (error)
                *error = "the phone did not start";
            return -1;
        }
        m_phones.push_back(std::move(phone));
        return static_cast<int>(m_phones.size()) - 1;
    }

    // Plugs the phones in, all signalled before any is waited for. Returns
    // false when one of them did not show its device and link in time.
    bool Plug(const std::vector<int>& phones) {
        for (const int number : phones) {
            if (!Valid(number) || !m_phones[number]->process.plug_in())
                return false;
        }
        bool all = true;
        for (const int number : phones) {
            Phone& phone = *m_phones[number];
            const std::string link = phone.links[std::min(phone.plugs, phone.links.size() - 1)];
            const auto path = phone.process.next_device_path(
                static_cast<int>(kRackCableLimit.count()));  // printed after its link was made
            if (!path) {
                all = false;
                continue;
            }
            ++phone.plugs;
            phone.link = link;
        }
        return all;
    }
    bool Plug(int phone) { return Plug(std::vector<int>{phone}); }

    // Pulls the phones' cables; false when a link was still there in time.
    bool Unplug(const std::vector<int>& phones) {
        for (const int number : phones) {
            if (!Valid(number) || !m_phones[number]->process.pull_cable())
                return false;
        }
        bool all = true;
        for (const int number : phones) {
            Phone& phone = *m_phones[number];
            all = Wait_Until_Gone(phone.link) && all;
            phone.link.clear();
        }
        return all;
    }
    bool Unplug(int phone) { return Unplug(std::vector<int>{phone}); }

    // Plays the steps on a thread of its own, each at its time (steps of one
    // time at once). Until Wait_Played returns, only Files and Size may be
    // used.
    void Play(std::vector<Rack_Step> steps) {
        Wait_Played();
        std::stable_sort(steps.begin(), steps.end(),
                         [](const Rack_Step& a, const Rack_Step& b) { return a.at < b.at; });
        m_played_ok = true;
        m_player = std::thread([this, steps = std::move(steps)] {
            const auto start = std::chrono::steady_clock::now();
            for (std::size_t first = 0; first < steps.size();) {
                std::size_t end = first;
                std::vector<int> plug, unplug;
                while (end < steps.size() && steps[end].at == steps[first].at) {
                    (steps[end].action == Rack_Step::kPlug ? plug : unplug)
                        .push_back(steps[end].phone);
                    ++end;
                }
                std::this_thread::sleep_until(start + steps[first].at);
                if (!unplug.empty() && !Unplug(unplug))
                    m_played_ok = false;
                if (!plug.empty() && !Plug(plug))
                    m_played_ok = false;
                first = end;
            }
        });
    }
    // Waits for the steps to have been played; false when one failed.
    bool Wait_Played() {
        if (m_player.joinable())
            m_player.join();
        return m_played_ok;
    }

    // The link the phone is plugged in under; empty while it is out.
    std::string Link(int phone) const { return Valid(phone) ? m_phones[phone]->link : ""; }
    // Its n-th link (0: the first plug-in's), as a watcher would be told.
    std::string Link_Name(int phone, std::size_t plug_in) const {
        const auto& links = m_phones.at(phone)->links;
        return links[std::min(plug_in, links.size() - 1)];
    }
    // Every link of every phone: what a watcher of named ports is given.
    std::vector<std::string> All_Links() const {
        std::vector<std::string> all;
        for (const auto& phone : m_phones)
            all.insert(all.end(), phone->links.begin(), phone->links.end());
        return all;
    }
    const Virtual_Phone_Files& Files(int phone) const { return m_phones.at(phone)->files; }
    Virtual_Phone_Process& Process(int phone) { return m_phones.at(phone)->process; }
    int Size() const { return static_cast<int>(m_phones.size()); }

    // Ends every phone (their files stay until the rack goes).
    void Stop() {
        Wait_Played();
        for (auto& phone : m_phones)
            phone->process.stop();
    }

  private:
    struct Phone {
        Virtual_Phone_Files files;
        Virtual_Phone_Process process;
        std::vector<std::string> links;
        std::size_t plugs = 0;
        std::string link;
    };

    bool Valid(int phone) const { return phone >= 0 && phone < Size(); }

    static bool Wait_Until_Gone(const std::string& path) {
        const auto deadline = std::chrono::steady_clock::now() + kRackCableLimit;
        struct stat status {};
        while (!path.empty() && lstat(path.c_str(), &status) == 0) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return true;
    }

    std::filesystem::path m_folder;
    std::vector<std::unique_ptr<Phone>> m_phones;
    std::thread m_player;
    bool m_played_ok = true;
};

}  // namespace test_support
