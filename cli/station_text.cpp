// Shared words of the station command's outputs.
#include "cli/station_text.h"

#include <cstdio>

#include "cli/text_format.h"
#include "station/station.h"

namespace cli {

const char* Result_Token(Download_Outcome outcome) {
    return Station_Outcome_Name(outcome);  // as the station's own files name it
}

std::string Result_Words(Download_Outcome outcome) {
    std::string words = Result_Token(outcome);
    for (char& c : words) {
        if (c == '_')
            c = ' ';
    }
    return words;
}

std::string Short_Identity(const Port_Identity& identity) {
    if (identity.Is_Usb()) {
        std::string text = Displayable_Text(identity.usb_vendor_id) + ":" +
                           Displayable_Text(identity.usb_product_id);
        if (!identity.usb_serial.empty())
            text += " " + Displayable_Text(identity.usb_serial);
        return text;
    }
    return Displayable_Text(identity.driver);
}

std::string Rate_Text(std::uint64_t bytes, double seconds) {
    if (seconds < 0.1)
        return "--";
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.1f KiB/s",
                  static_cast<double>(bytes) / seconds / 1024.0);
    return buffer;
}

}  // namespace cli

#include "cli/exit_codes.h"

namespace cli {

int Station_Exit_Code(const Station_Summary& summary, int stop_signal) {
    if (stop_signal != 0)
        return 128 + stop_signal;
    if (summary.phones.empty())
        return kExitNoPhoneFinished;
    int failed = 0;
    for (const Station_Phone_Result& phone : summary.phones) {
        if (phone.outcome != Download_Outcome::kUpdated)
            ++failed;
    }
    return failed < kExitMostFailedPhones ? failed : kExitMostFailedPhones;
}

}  // namespace cli
