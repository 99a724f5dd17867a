// The check every test that drives the virtual phone makes: the host kept to
// the protocol. Host_Deviations gives "" when the phone recorded no deviation
// of the host, else the deviations one a line, so a failed assertion shows
// them all:
//     EXPECT_EQ(Host_Deviations(rig.phone), "");         // the in-process model
//     phone.stop();                                      // the program: stopped first,
//     EXPECT_EQ(Host_Deviations(files.deviations), "");  // so it has judged every byte
// A test whose host is known to deviate names the deviation in a TODO and
// expects its exact line instead of "".
#pragma once

#include <fstream>
#include <string>

#include "tools/virtual_phone/phone_model.h"

inline std::string Host_Deviations(const vphone::Phone_Model& phone) {
    std::string list;
    for (const auto& deviation : phone.deviations()) {
        list += vphone::Describe(deviation) + "\n";
    }
    if (phone.deviations_not_kept() != 0) {
        list += "and " + std::to_string(phone.deviations_not_kept()) + " more\n";
    }
    return list;
}

// The deviations file of the virtual-phone program (--state FILE writes it as
// FILE.deviations). A missing file is reported too: no list is no proof.
inline std::string Host_Deviations(const std::string& deviations_file) {
    std::ifstream file(deviations_file);
    if (!file) {
        return "no deviation list at " + deviations_file + "\n";
    }
    std::string list;
    for (std::string line; std::getline(file, line);) {
        list += line + "\n";
    }
    return list;
}
