// One phone's session as the journal keeps it: who ran it where, with which
// image, on which phone, and how it ended. A record is written when the
// session starts (result "running") and completed when it ends.
#pragma once

#include <cstdint>
#include <string>

struct Journal_Record {
    std::string id;       // a UUID (version 4)
    std::string started;  // UTC, ISO 8601 with milliseconds (utc_text.h)
    std::string ended;    // empty while running
    std::string machine;  // the host's name
    std::string station;  // --station-name, else the host's name
    std::string operator_name;
    std::string program_version;
    std::string image_path;
    std::int64_t image_size = 0;
    std::string image_sha256;
    std::string image_version;
    std::string version_before_hex;  // the phone's record as read
    std::string version_before;      // as its field shows it
    std::string version_after_hex;   // the record the phone took
    std::string version_after;
    std::string port;
    std::string usb_id;  // "1d6b:0104"; empty: not a USB device
    std::string usb_serial;
    std::string usb_path;
    std::string slot;
    std::string result = "running";  // Station_Outcome_Name's words, "running", "interrupted"
    std::string failed_step;         // empty: none failed
    int code = 0;
    std::string advice;  // Advice_Name
    std::uint64_t bytes = 0;
    double seconds = 0;
    std::string dump_file;
    std::string log_file;
    std::string trace_file;
    // Who owns a running record: a record whose process is gone was cut off.
    long long pid = 0;
    std::string host;
    std::string process_start;
    // Sent on to a central database (later); 0 until then.
    int forwarded = 0;
};

// A new session's id: a random UUID, version 4, from the system's source of
// randomness.
std::string New_Session_Id();
// Bytes as lower-case hex ("0a1b...").
std::string Hex_Of(const std::string& bytes);
