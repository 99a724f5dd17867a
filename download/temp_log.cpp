// Writing temp.log.
#include "download/temp_log.h"

#include <cstdio>
#include <cstdlib>

std::array<char, 1024> Log_Text{};

bool Write_Temp_Log(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "wt");
    if (file == nullptr)
        return false;
    // The buffer is zero-terminated within its size even if someone fills it.
    std::fprintf(file, "%.*s", static_cast<int>(Log_Text.size()), Log_Text.data());
    std::fclose(file);
    return true;
}

void Write_Temp_Log_Or_Exit() {
    if (Write_Temp_Log())
        return;
    std::fputs("File create failure.\n", stdout);
    std::fflush(stdout);
    std::exit(0);
}
