// A window's update or station with its journal: the observer lives as long
// as what it follows, the writer as long as the window's run.
#include "window_model/window_journal.h"

#include <span>
#include <utility>

#include "download/message_output.h"
#include "platform/shared_file.h"

namespace {

class Journaled_Station final : public Station_Control {
  public:
    Journaled_Station(std::unique_ptr<Station_Control> inner,
                      std::shared_ptr<Journal_Writer> writer, Journal_Context context)
        : m_writer(std::move(writer)),
          m_journal(*m_writer, std::move(context)),
          m_inner(std::move(inner)) {
        m_inner->Add_Observer(&m_journal);
    }
    void Add_Observer(Station_Observer* observer) override { m_inner->Add_Observer(observer); }
    bool Start() override { return m_inner->Start(); }
    std::vector<int> Stop_If_Harmless() override { return m_inner->Stop_If_Harmless(); }
    void Stop() override { m_inner->Stop(); }
    std::vector<Port_Candidate> Handled_Ports() const override { return m_inner->Handled_Ports(); }

  private:
    std::shared_ptr<Journal_Writer> m_writer;
    Station_Journal m_journal;                 // outlives the station it follows
    std::unique_ptr<Station_Control> m_inner;  // destroyed first
};

}  // namespace

Station_Factory With_Journal(Station_Factory inner, std::shared_ptr<Journal_Writer> writer) {
    if (!writer)
        return inner;
    return [inner = std::move(inner), writer](
               std::shared_ptr<const Firmware_Image> image, Station_Options options,
               Station::Sink sink) -> std::unique_ptr<Station_Control> {
        Journal_Context context;
        context.machine = platform::Host_Name();
        if (image)
            context.image_version = Version_Field_Text(std::span(image->Image_Version));
        std::unique_ptr<Station_Control> station =
            inner(std::move(image), std::move(options), std::move(sink));
        if (!station)
            return station;
        return std::make_unique<Journaled_Station>(std::move(station), writer, std::move(context));
    };
}

std::unique_ptr<Update_Journal> Journal_Window_Update(Journal_Writer& writer,
                                                      Download_Command& command) {
    Journal_Context context;
    context.machine = platform::Host_Name();
    auto journal = std::make_unique<Update_Journal>(
        writer, context,
        Update_Journal::Command_Ending{[&command](Download_Outcome outcome) {
                                           return Phone_Ending{outcome, command.Last_Failure(),
                                                               command.Phone_Touched(), false,
                                                               false};
                                       },
                                       [&command] { return command.Dump_Path(); }});
    command.Add_Observer(journal.get());
    return journal;
}
