// A C stdio stream that closes itself whatever path its owner leaves by.
#pragma once

#include <cstdio>
#include <memory>

struct File_Closer {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using File_Handle = std::unique_ptr<std::FILE, File_Closer>;
