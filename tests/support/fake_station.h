// A station without phones for the station window's tests: the window model
// makes it through its factory, and the test sends the events a real
// station would send, from any thread, and says which phones a stop finds
// being rewritten.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "window_model/station_window_model.h"

namespace test_support {

class Fake_Station final : public Station_Control {
  public:
    struct Shared {
        std::mutex mutex;
        std::vector<int> rewriting;  // what Stop_If_Harmless answers
        bool start_result = true;
        int made = 0, started = 0, harmless_stops = 0, stops = 0;
        // Calls the observers added, then the window's sink, as a station does.
        Station::Sink sink;
        std::vector<Station_Observer*> observers;
        std::vector<Port_Candidate> handled;  // what Handled_Ports answers
        std::shared_ptr<const Firmware_Image> image;
        Station_Options options;
    };

    explicit Fake_Station(std::shared_ptr<Shared> shared) : m_shared(std::move(shared)) {}
    void Add_Observer(Station_Observer* observer) override {
        const std::lock_guard<std::mutex> lock(m_shared->mutex);
        m_shared->observers.push_back(observer);
    }
    bool Start() override {
        const std::lock_guard<std::mutex> lock(m_shared->mutex);
        ++m_shared->started;
        return m_shared->start_result;
    }
    std::vector<int> Stop_If_Harmless() override {
        const std::lock_guard<std::mutex> lock(m_shared->mutex);
        ++m_shared->harmless_stops;
        return m_shared->rewriting;
    }
    void Stop() override {
        const std::lock_guard<std::mutex> lock(m_shared->mutex);
        ++m_shared->stops;
    }
    std::vector<Port_Candidate> Handled_Ports() const override {
        const std::lock_guard<std::mutex> lock(m_shared->mutex);
        return m_shared->handled;
    }

    // The factory for the window model, with the state the test looks at.
    static Station_Factory Factory(const std::shared_ptr<Shared>& shared) {
        return [shared](std::shared_ptr<const Firmware_Image> image, Station_Options options,
                        Station::Sink sink) -> std::unique_ptr<Station_Control> {
            const std::lock_guard<std::mutex> lock(shared->mutex);
            ++shared->made;
            shared->image = std::move(image);
            shared->options = std::move(options);
            shared->observers.clear();
            Shared* const state = shared.get();  // owns the sink: no cycle
            shared->sink = [state, sink = std::move(sink)](const Station_Event& event) {
                for (Station_Observer* observer : state->observers)
                    observer->On_Station_Event(event);
                sink(event);
            };
            return std::make_unique<Fake_Station>(shared);
        };
    }

  private:
    std::shared_ptr<Shared> m_shared;
};

// Events as a station sends them.
inline Station_Event Arrived(int phone, const std::string& port, const std::string& serial = {}) {
    Station_Event event;
    event.kind = Station_Event::Kind::kArrived;
    event.phone = phone;
    event.port.device_path = port;
    event.port.display_name = port;
    if (!serial.empty()) {
        event.port.identity.usb_vendor_id = "1d6b";
        event.port.identity.usb_product_id = "0104";
        event.port.identity.usb_serial = serial;
    }
    return event;
}
inline Station_Event Phase(int phone, Station_Phase phase, double seconds = 0) {
    Station_Event event;
    event.kind = Station_Event::Kind::kPhase;
    event.phone = phone;
    event.phase = phase;
    event.seconds = seconds;
    return event;
}
inline Station_Event Progress(int phone, std::uint64_t done, std::uint64_t total,
                              double seconds = 0) {
    Station_Event event;
    event.kind = Station_Event::Kind::kProgress;
    event.phone = phone;
    event.phase = Station_Phase::kRewriting;
    event.bytes_done = done;
    event.bytes_total = total;
    event.seconds = seconds;
    return event;
}
inline Station_Event Line(int phone, const std::string& text) {
    Station_Event event;
    event.kind = Station_Event::Kind::kLine;
    event.phone = phone;
    event.text = text;
    return event;
}
inline Station_Event Finished(int phone, Download_Outcome outcome, int code = 0) {
    Station_Event event;
    event.kind = Station_Event::Kind::kFinished;
    event.phone = phone;
    event.phase = Station_Phase::kFinished;
    event.outcome = outcome;
    event.code = code;
    return event;
}
inline Station_Event Departed(int phone) {
    Station_Event event;
    event.kind = Station_Event::Kind::kDeparted;
    event.phone = phone;
    event.phase = Station_Phase::kGone;
    return event;
}
inline Station_Event Ended() {
    Station_Event event;
    event.kind = Station_Event::Kind::kEnded;
    return event;
}

}  // namespace test_support
