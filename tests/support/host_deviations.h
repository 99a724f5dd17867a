// The check every test that drives the virtual phone makes: the host kept to
// the protocol. Host_Deviations gives "" when the phone recorded no deviation
// of the host, else the deviations one a line, so a failed assertion shows
// them all:
//     EXPECT_EQ(Host_Deviations(rig.phone), "");         // the in-process model
//     phone.stop();                                      // the program: stopped first,
//     EXPECT_EQ(Host_Deviations(files.deviations), "");  // so it has judged every byte
#pragma once

#include <fstream>
#include <string>
#include <vector>

#include "tools/virtual_phone/phone_model.h"

inline std::string Host_Deviation_Lines(const std::vector<std::string>& lines) {
    std::string list;
    for (const auto& line : lines) {
        list += line + "\n";
    }
    return list;
}

inline std::string Host_Deviations(const vphone::Phone_Model& phone) {
    std::vector<std::string> lines;
    for (const auto& deviation : phone.deviations()) {
        lines.push_back(vphone::Describe(deviation));
    }
    if (phone.deviations_not_kept() != 0) {
        lines.push_back("and " + std::to_string(phone.deviations_not_kept()) + " more");
    }
    return Host_Deviation_Lines(lines);
}

// The deviations file of the virtual-phone program (--state FILE writes it as
// FILE.deviations). A missing file is reported too: no list is no proof.
inline std::string Host_Deviations(const std::string& deviations_file) {
    std::ifstream file(deviations_file);
    if (!file) {
        return "no deviation list at " + deviations_file + "\n";
    }
    std::vector<std::string> lines;
    for (std::string line; std::getline(file, line);) {
        lines.push_back(line);
    }
    return Host_Deviation_Lines(lines);
}
