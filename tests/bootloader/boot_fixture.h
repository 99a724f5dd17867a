// A port object wired to a scripted phone; its report drawn into a recording
// message output and, once attached, a fake progress bar; shared by the
// boot-loader tests.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "bootloader/comport.h"
#include "download/message_renderer.h"
#include "download/update_output.h"
#include "tests/support/fake_progress_bar.h"
#include "tests/support/recording_output.h"
#include "tests/support/scripted_port.h"

inline constexpr char kPhonePath[] = "/dev/phone";

struct Boot_Rig {
    ScriptedPort port;
    RecordingOutput output;
    FakeProgressBar bar;
    One_Language_Output shown{output, Language::kChinese};
    Message_Area_Renderer messages{shown};
    Progress_Bar_Renderer bar_renderer{bar};
    report::Update_Fan_Out report;
    std::unique_ptr<CComport> com;

    explicit Boot_Rig(std::vector<std::string> ports = {kPhonePath}) {
        com = std::make_unique<CComport>(port.Backend(), Make_Fixed_Port_Lister(std::move(ports)));
        report.Add(&messages);
        com->Set_Report(&report);
    }
    // The bar drawn from the bytes the port reports.
    void Attach_Bar() { report.Add(&bar_renderer); }
    ~Boot_Rig() { com.reset(); }  // the backend refers to port

    // Opens the phone's port the way a successful search leaves it.
    void Open() { ASSERT_TRUE(com->Open(kPhonePath)); }

    // The host kept to the script and the phone said all it had to say.
    void Expect_Script_Kept() const {
        EXPECT_TRUE(port.faults().empty()) << port.faults().front();
        EXPECT_TRUE(port.Script_Done());
    }
};
