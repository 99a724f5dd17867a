// Writing temp.log.
#include "winapp/temp_log.h"

#include <cstdio>
#include <cstdlib>

void Write_Temp_Log_Or_Exit() {
    // The log text is empty: nothing is written but the file itself.
    if (std::FILE* file = std::fopen("temp.log", "wt")) {
        std::fclose(file);
        return;
    }
    std::fputs("File create failure.\n", stdout);
    std::fflush(stdout);
    std::exit(0);
}
