// Where the first-run dump goes on Windows: "d:\VANTREL" as it always was,
// else "VANTREL" in the temporary directory.
#include <filesystem>
#include <system_error>

#include "bootloader/phone_model.h"
#include "download/dump_places.h"

std::vector<std::string> Dump_Directories() {
    std::error_code error;
    const std::filesystem::path temp = std::filesystem::temp_directory_path(error);
    return {std::string(kPhoneModel.windows_dump_directory),
            error ? std::string(".") : temp.string()};
}

std::string Dump_File_Name(const std::string&) {
    return std::string(kPhoneModel.dump_name);
}
