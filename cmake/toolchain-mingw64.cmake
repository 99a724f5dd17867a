# Cross-build for 64-bit Windows with Debian's mingw-w64 compilers.
#
# The posix-thread variant is used because GoogleTest needs std::thread and
# std::mutex, which the win32-thread variant lacks. Everything is linked
# statically so the programs run under Wine (and on Windows) without the
# mingw runtime DLLs beside them. Test programs run through Wine's 64-bit
# loader.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(_mingw_triple x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

# Debian 12 ships the 64-bit loader here, not as wine64 on the PATH.
if(EXISTS /usr/lib/wine/wine64)
    set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine64)
else()
    find_program(_wine64 NAMES wine64 wine REQUIRED)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${_wine64})
endif()
