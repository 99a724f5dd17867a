// What an update reports while it runs: data, never text. The image loader,
// the boot-loader operations and the phone's update tell an Update_Observer
// which step began and ended, how many bytes of how many are sent, each
// notice by its id with its arguments, the version records read and written,
// a failure with its step, code and how the transfer ended, and the outcome.
// Windows, the command-line tool, a station's rows, logs and files render or
// record it; the texts of the notices, in both languages, are in one
// catalogue above this layer (download/notice_texts.h).
#pragma once

#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "serial/io_end.h"

// How an update ended, for callers that report it (the command-line tool's
// exit code, a station's rows); the window ignores it.
enum class Download_Outcome {
    kUpdated,                  // every block accepted and the success box shown
    kImageNotLoaded,           // the image was refused or could not be read
    kPhoneNotFound,            // no boot loader answered the search
    kFailedBeforeProgramming,  // version read, check or write failed
    kProgrammingFailed,        // region announcement or block transfer failed
    kAlreadyRunning,           // Run was called again while a command runs
    kStopped,                  // a stop was requested (closing window, Ctrl-C)
};

namespace report {

// Everything the update has to tell a person, by id. Arguments travel in the
// notice (Notice_Event); a renderer joins them with the catalogue's words.
enum class Notice : int {
    // The version comparison's findings.
    kFirstRun,          // the phone holds no record of ours yet: its boot loader is dumped
    kVersionMismatch,   // another version code
    kLanguageMismatch,  // another language
    kPhoneNewer,        // the phone's number is higher than the image's
    kSameVersion,       // the same number
    // The phone search.
    kSearching,
    kPleaseWait,
    kNotFound,
    kPortListFailed,     // number: the listing's result
    kPortsNoPermission,  // texts: the ports..., then the device's group
    kPortInUse,          // texts: the port, then its holders (none: unknown)
    kNotASerialPort,     // texts: the port
    kOwnTerminal,        // texts: the port
    kFoundPort,          // texts: the port as shown (COM5, /dev/ttyACM0)
    kReadyToUpdate,
    // The image.
    kWrongBin,
    kReopenFailed,
    kRegionsOverlap,  // numbers: first start, first end, second start, second end
    kNoRegionData,
    kImageTooLarge,  // numbers: the regions' bytes, the most the phone's flash takes
    kImageHasHoles,  // numbers: the regions' bytes the file does not hold on its disk
    // The steps that can fail, each with number: its result code.
    kReadVersionFailed,
    kDumpFailed,
    kWriteVersionFailed,
    kSetRegionsFailed,
    kDownloadFailed,
    // Why a transfer broke off, after a step's failure.
    kDisconnected,
    kWriteStuck,
    // The dump: texts: the path.
    kDumpMoved,
    kDumpKept,
    // The transfer's times (time) and the end.
    kStartAt,
    kEndAt,
    kUpdateOk,
};

struct Notice_Event {
    Notice id = Notice::kSearching;
    std::vector<std::string> texts{};              // ports, paths, holders: as they are
    std::vector<std::int64_t> numbers{};           // codes, addresses
    std::chrono::system_clock::time_point time{};  // kStartAt, kEndAt
};

// The steps of one update, in the order they come. Their numbers are this
// enum's own: nothing above may count on them.
enum class Step : int {
    kUpdate,  // a whole command or session: began, then ended with its outcome
    kLoadImage,
    kSearch,
    kHandshake,     // on one port, a station's arrival
    kCheckVersion,  // read, compare (and, on a first run, the dump), write the record
    kDump,
    kWriteRecord,  // from here the phone cannot start until the transfer ends
    kProgramming,  // announce and send both regions, end the link
    kTransfer,     // the blocks: bytes follow
    kEndSession,   // the link ended and the port closed
};

struct Update_Event {
    enum class Kind {
        kStepBegan,     // step
        kStepEnded,     // step; for kUpdate: outcome
        kNotice,        // notice
        kImageHeader,   // the image's header is read: what it claims replaces the last one's
        kImageVersion,  // bytes: the image's version text, as the file holds it
        kPhoneVersion,  // bytes: the phone's record, as read
        kPhoneVersionFromDump,  // bytes: the record a first run took from the dump
        kRecordWritten,         // bytes: the record the phone took
        kFailure,               // step, code, end: a step failed (a stop is no failure)
    };
    Kind kind = Kind::kStepBegan;
    Step step = Step::kUpdate;
    Download_Outcome outcome = Download_Outcome::kUpdated;
    Notice_Event notice{};
    std::vector<std::uint8_t> bytes{};
    int code = 0;
    Io_End end = Io_End::kComplete;

    static Update_Event Began(Step step) { return {Kind::kStepBegan, step}; }
    static Update_Event Ended(Step step) { return {Kind::kStepEnded, step}; }
    static Update_Event Finished(Download_Outcome outcome) {
        Update_Event event{Kind::kStepEnded, Step::kUpdate};
        event.outcome = outcome;
        return event;
    }
    static Update_Event Of(Notice_Event notice) {
        Update_Event event{Kind::kNotice};
        event.notice = std::move(notice);
        return event;
    }
    static Update_Event Record(Kind kind, std::span<const std::uint8_t> bytes) {
        Update_Event event{kind};
        event.bytes.assign(bytes.begin(), bytes.end());
        return event;
    }
    static Update_Event Failed(Step step, int code, Io_End end) {
        Update_Event event{Kind::kFailure, step};
        event.code = code;
        event.end = end;
        return event;
    }
};

// Whoever follows an update. Both calls come on the update's thread, in the
// order things happened. On_Bytes comes once when the transfer's total is
// known (done 0) and once per accepted block: it must be cheap and must not
// wait (store it; wake nobody for it).
class Update_Observer {
  public:
    virtual ~Update_Observer() = default;
    virtual void On_Event(const Update_Event& event) = 0;
    virtual void On_Bytes(std::uint64_t done, std::uint64_t total) = 0;
};

// Passes everything to each of several observers, in the order added.
class Update_Fan_Out final : public Update_Observer {
  public:
    void Add(Update_Observer* observer) {
        if (observer != nullptr)
            m_observers.push_back(observer);
    }
    void Remove(Update_Observer* observer) { std::erase(m_observers, observer); }
    void On_Event(const Update_Event& event) override {
        for (Update_Observer* observer : m_observers)
            observer->On_Event(event);
    }
    void On_Bytes(std::uint64_t done, std::uint64_t total) override {
        for (Update_Observer* observer : m_observers)
            observer->On_Bytes(done, total);
    }

  private:
    std::vector<Update_Observer*> m_observers;
};

// The notice with its arguments, for the common shapes.
inline Notice_Event Say(Notice id) {
    return {id};
}
inline Notice_Event Say(Notice id, std::string text) {
    return {id, {std::move(text)}};
}
inline Notice_Event Say_Code(Notice id, std::int64_t number) {
    return {id, {}, {number}};
}

}  // namespace report
