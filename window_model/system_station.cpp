// A Station behind the part of it the window drives.
#include "window_model/system_station.h"

namespace {

class System_Station final : public Station_Control {
  public:
    System_Station(std::shared_ptr<const Firmware_Image> image, Station_Options options,
                   Station::Sink sink)
        : m_station(std::move(image), std::move(options), std::move(sink)) {}
    void Add_Observer(Station_Observer* observer) override { m_station.Add_Observer(observer); }
    bool Start() override { return m_station.Start(); }
    std::vector<int> Stop_If_Harmless() override { return m_station.Stop_If_Harmless(); }
    void Stop() override { m_station.Stop(); }
    std::vector<Port_Candidate> Handled_Ports() const override { return m_station.Handled_Ports(); }

  private:
    Station m_station;
};

}  // namespace

Station_Factory System_Station_Factory() {
    return [](std::shared_ptr<const Firmware_Image> image, Station_Options options,
              Station::Sink sink) -> std::unique_ptr<Station_Control> {
        return std::make_unique<System_Station>(std::move(image), std::move(options),
                                                std::move(sink));
    };
}
