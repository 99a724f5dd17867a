// The JSON Lines of the station command, through the station's one JSON
// writer (station/json_text.h).
#include "cli/station_json.h"

#include <chrono>
#include <cstdio>

#include "cli/station_text.h"
#include "station/station_files.h"
#include "station/station_throughput.h"
#include "station/utc_text.h"

namespace cli {
namespace {

const char* Event_Name(Station_Event::Kind kind) {
    switch (kind) {
        case Station_Event::Kind::kArrived:
            return "arrived";
        case Station_Event::Kind::kPhase:
            return "phase";
        case Station_Event::Kind::kProgress:
            return "progress";
        case Station_Event::Kind::kLine:
            return "line";
        case Station_Event::Kind::kFinished:
            return "finished";
        case Station_Event::Kind::kDeparted:
            return "departed";
        case Station_Event::Kind::kEnded:
            return "ended";
        case Station_Event::Kind::kSkipped:
            return "skipped";
    }
    return "unknown";
}

std::string Identity_Object(const Port_Identity& identity) {
    return Json_Object()
        .Text("vid", identity.usb_vendor_id)
        .Text("pid", identity.usb_product_id)
        .Text("serial", identity.usb_serial)
        .Text("manufacturer", identity.manufacturer)
        .Text("product", identity.product)
        .Text("driver", identity.driver)
        .Text("usb_path", identity.usb_path)
        .Done();
}

}  // namespace

std::string Json_Line(const Station_Event& event, Language language) {
    Json_Object line;
    line.Number("v", kStationJsonVersion)
        .Text("event", Event_Name(event.kind))
        .Number("phone", event.phone)
        .Text("port", event.port.display_name)
        .Text("t", Utc_Text(event.time));
    if (event.kind != Station_Event::Kind::kEnded)
        line.Text("device", event.port.device_path)
            .Seconds("seconds", event.seconds)
            .Text("slot", event.slot);
    switch (event.kind) {
        case Station_Event::Kind::kArrived:
            line.Raw("identity", Identity_Object(event.port.identity));
            break;
        case Station_Event::Kind::kPhase:
            line.Text("phase", Station_Phase_Name(event.phase));
            break;
        case Station_Event::Kind::kProgress:
            line.Unsigned("bytes_done", event.bytes_done)
                .Unsigned("bytes_total", event.bytes_total);
            break;
        case Station_Event::Kind::kLine:
            line.Text("text", event.text);
            break;
        case Station_Event::Kind::kFinished: {
            const Advice advice = Advice_For(Ending_Of(event));
            line.Text("result", Result_Token(event.outcome))
                .Boolean("updated", event.outcome == Download_Outcome::kUpdated)
                .Number("code", event.code)
                .Boolean("phone_touched", event.phone_touched)
                .Boolean("no_phone", event.no_phone)
                .Boolean("unplugged", event.unplugged)
                .Text("advice_id", Advice_Name(advice))
                .Text("advice", Advice_Words(advice).For(language))
                .Unsigned("bytes", event.bytes_done)
                .Unsigned("bytes_total", event.bytes_total)
                .Text("dump_file", event.dump_file)
                .Text("log_file", event.log_file);
            break;
        }
        case Station_Event::Kind::kSkipped:
            line.Text("reason", Port_Skip_Name(event.skip))
                .Text("text", event.text)
                .Raw("identity", Identity_Object(event.port.identity));
            break;
        case Station_Event::Kind::kDeparted:
        case Station_Event::Kind::kEnded:
            break;
    }
    return line.Done();
}

std::string Json_Summary_Line(const Station_Summary& summary, int exit_code,
                              std::string_view signal_name, Language language,
                              double elapsed_seconds) {
    const Station_Throughput throughput = Throughput_Of(summary.phones, elapsed_seconds);
    std::string phones = "[";
    for (const Station_Phone_Result& phone : summary.phones) {
        if (phones.size() > 1)
            phones += ",";
        phones += Json_Phone_Result(phone, Json_Result_Form::kLine, {.language = language});
    }
    phones += "]";
    return Json_Object()
        .Number("v", kStationJsonVersion)
        .Text("event", "summary")
        .Number("phone", 0)
        .Text("port", "")
        .Text("t", Utc_Text(std::chrono::system_clock::now()))
        .Number("finished", static_cast<long long>(summary.phones.size()))
        .Number("updated", summary.updated)
        .Number("failed", summary.failed)
        .Number("stopped_phones", summary.stopped_phones)
        .Number("no_phone", summary.no_phone)
        .Boolean("stopped", summary.stopped)
        .Seconds("elapsed_seconds", elapsed_seconds)
        .Seconds("phones_per_hour", throughput.phones_per_hour)
        .Seconds("yield", throughput.yield)
        .Seconds("mean_seconds", throughput.mean_seconds)
        .Text("signal", signal_name)
        .Number("exit_code", exit_code)
        .Raw("summary_files", Json_String_Array(summary.summary_files))
        .Raw("unwritten", Json_String_Array(summary.unwritten))
        .Raw("records_waiting",
             summary.records_waiting < 0 ? "null" : std::to_string(summary.records_waiting))
        .Raw("phones", phones)
        .Done();
}

void Station_Json::Show(const Station_Event& event) {
    Write(Json_Line(event, m_language));
}

void Station_Json::Stop_Asked(const std::vector<int>& at_risk) {
    std::string phones = "[";
    for (const int phone : at_risk)
        phones += (phones.size() > 1 ? "," : "") + std::to_string(phone);
    Write(Json_Object()
              .Number("v", kStationJsonVersion)
              .Text("event", "stop_asked")
              .Number("phone", 0)
              .Text("port", "")
              .Text("t", Utc_Text(std::chrono::system_clock::now()))
              .Raw("at_risk", phones + "]")
              .Done());
}

void Station_Json::End(const Station_Summary& summary, int exit_code, std::string_view signal_name,
                       double elapsed_seconds) {
    Write(Json_Summary_Line(summary, exit_code, signal_name, m_language, elapsed_seconds));
}

void Station_Json::Write(const std::string& line) {
    std::fputs(line.c_str(), m_out);
    std::fputc('\n', m_out);
    std::fflush(m_out);
}

}  // namespace cli
