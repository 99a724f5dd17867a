// The words of a station's phases.
#include "station/station_words.h"

namespace station_text {

Pair Phase_Pair(Station_Phase phase) {
    switch (phase) {
        case Station_Phase::kArrived:
            return {"arrived", "已連接"};
        case Station_Phase::kHandshake:
            return {"handshake", "握手中"};
        case Station_Phase::kCheckingVersion:
            return {"checking version", "檢查版本"};
        case Station_Phase::kDumping:
            return {"dumping", "備份中"};
        case Station_Phase::kWritingRecord:
            return {"writing record", "寫入版本"};
        case Station_Phase::kRewriting:
            return {"rewriting", "燒錄中"};
        case Station_Phase::kFinished:
            return {"finished", "已結束"};
        case Station_Phase::kWaitingForUnplug:
            return {"unplug it", "請拔除"};
        case Station_Phase::kGone:
            return {"gone", "已拔除"};
    }
    return {};
}

}  // namespace station_text

std::string Phase_Words(Station_Phase phase, Language language) {
    const station_text::Pair words = station_text::Phase_Pair(phase);
    if (words.english.empty())
        return Station_Phase_Name(phase);
    return std::string(words.For(language));
}

std::string Skip_Words(Port_Skip skip, const std::string& usb_id, Language language) {
    switch (skip) {
        case Port_Skip::kNone:
            break;
        case Port_Skip::kNotUsb:
            return std::string(station_text::kNotUsb.For(language));
        case Port_Skip::kNotMatched:
            return usb_id + " " + std::string(station_text::kNotMatched.For(language));
        case Port_Skip::kNotInSlots:
            return std::string(station_text::kNotInSlots.For(language));
    }
    return {};
}
