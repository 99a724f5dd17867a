// The JSON Lines of the station command, written by hand: a few flat
// objects whose only hard part is escaping texts from outside.
#include "cli/station_json.h"

#include <cstdint>
#include <cstdio>

#include "cli/station_text.h"

namespace cli {
namespace {

// The length of the well-formed UTF-8 sequence at text[at], or 0 (overlong
// forms, surrogates and code points beyond U+10FFFF are not well-formed).
std::size_t Utf8_Length(std::string_view text, std::size_t at, std::uint32_t& code_point) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    std::size_t length = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        code_point = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        code_point = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        code_point = lead & 0x07;
    } else {
        return 0;
    }
    if (at + length > text.size())
        return 0;
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80)
            return 0;
        code_point = (code_point << 6) | (byte(at + i) & 0x3F);
    }
    if ((length == 3 && code_point < 0x800) || (length == 4 && code_point < 0x10000) ||
        (code_point >= 0xD800 && code_point <= 0xDFFF) || code_point > 0x10FFFF)
        return 0;
    return length;
}

void Append_Escape(std::string& out, const char* format, unsigned value) {
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, format, value);
    out += buffer;
}

// A JSON object built one field at a time.
class Object {
  public:
    Object& Text(const char* name, std::string_view value) {
        Name(name);
        m_text += Json_String(value);
        return *this;
    }
    Object& Number(const char* name, long long value) {
        Name(name);
        m_text += std::to_string(value);
        return *this;
    }
    Object& Unsigned(const char* name, std::uint64_t value) {
        Name(name);
        m_text += std::to_string(value);
        return *this;
    }
    Object& Seconds(const char* name, double value) {
        Name(name);
        char buffer[32];
        std::snprintf(buffer, sizeof buffer, "%.3f", value < 0 ? 0.0 : value);
        m_text += buffer;
        return *this;
    }
    Object& Boolean(const char* name, bool value) {
        Name(name);
        m_text += value ? "true" : "false";
        return *this;
    }
    Object& Raw(const char* name, const std::string& json) {
        Name(name);
        m_text += json;
        return *this;
    }
    std::string Done() const { return m_text + "}"; }

  private:
    void Name(const char* name) {
        m_text += m_text.size() == 1 ? "\"" : ",\"";
        m_text += name;
        m_text += "\":";
    }
    std::string m_text = "{";
};

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
    }
    return "unknown";
}

std::string Identity_Object(const Port_Identity& identity) {
    return Object()
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

std::string Json_String(std::string_view text) {
    std::string out = "\"";
    out.reserve(text.size() + 2);
    for (std::size_t at = 0; at < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[at]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c < 0x20 || c == 0x7F) {
            Append_Escape(out, "\\u%04x", c);
        } else if (c >= 0x80) {
            std::uint32_t code_point = 0;
            const std::size_t length = Utf8_Length(text, at, code_point);
            if (length == 0) {
                // Not UTF-8: the byte as the terminal shows it, "\xff".
                Append_Escape(out, "\\\\x%02x", c);
                ++at;
                continue;
            }
            // C1 controls and the line and paragraph separators end lines
            // for some readers: escaped like the C0 controls.
            if (code_point < 0xA0 || code_point == 0x2028 || code_point == 0x2029)
                Append_Escape(out, "\\u%04x", code_point);
            else
                out.append(text.substr(at, length));
            at += length;
            continue;
        } else {
            out += static_cast<char>(c);
        }
        ++at;
    }
    return out + "\"";
}

std::string Json_Line(const Station_Event& event) {
    Object line;
    line.Number("v", kStationJsonVersion)
        .Text("event", Event_Name(event.kind))
        .Number("phone", event.phone)
        .Text("port", event.port.display_name);
    if (event.kind != Station_Event::Kind::kEnded)
        line.Text("device", event.port.device_path).Seconds("seconds", event.seconds);
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
        case Station_Event::Kind::kFinished:
            line.Text("result", Result_Token(event.outcome))
                .Boolean("updated", event.outcome == Download_Outcome::kUpdated)
                .Number("code", event.code)
                .Boolean("phone_touched", event.phone_touched)
                .Unsigned("bytes", event.bytes_done)
                .Unsigned("bytes_total", event.bytes_total)
                .Text("dump_file", event.dump_file)
                .Text("log_file", event.log_file);
            break;
        case Station_Event::Kind::kDeparted:
        case Station_Event::Kind::kEnded:
            break;
    }
    return line.Done();
}

std::string Json_Summary_Line(const Station_Summary& summary, int exit_code,
                              std::string_view signal_name) {
    std::string phones = "[";
    for (const Station_Phone_Result& phone : summary.phones) {
        if (phones.size() > 1)
            phones += ",";
        phones += Object()
                      .Number("phone", phone.phone)
                      .Text("port", phone.port.display_name)
                      .Text("result", Result_Token(phone.outcome))
                      .Number("code", phone.code)
                      .Unsigned("bytes", phone.bytes)
                      .Seconds("seconds", phone.seconds)
                      .Text("dump_file", phone.dump_file)
                      .Text("log_file", phone.log_file)
                      .Done();
    }
    phones += "]";
    return Object()
        .Number("v", kStationJsonVersion)
        .Text("event", "summary")
        .Number("phone", 0)
        .Text("port", "")
        .Number("finished", static_cast<long long>(summary.phones.size()))
        .Number("updated", summary.updated)
        .Number("failed", summary.failed)
        .Number("stopped_phones", summary.stopped_phones)
        .Boolean("stopped", summary.stopped)
        .Text("signal", signal_name)
        .Number("exit_code", exit_code)
        .Raw("phones", phones)
        .Done();
}

void Station_Json::Show(const Station_Event& event) {
    Write(Json_Line(event));
}

void Station_Json::End(const Station_Summary& summary, int exit_code,
                       std::string_view signal_name) {
    Write(Json_Summary_Line(summary, exit_code, signal_name));
}

void Station_Json::Write(const std::string& line) {
    std::fputs(line.c_str(), m_out);
    std::fputc('\n', m_out);
    std::fflush(m_out);
}

}  // namespace cli
