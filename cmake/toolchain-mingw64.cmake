# Cross-build for 64-bit Windows with Debian's mingw-w64 compilers.
#
# The posix-thread variant is used because GoogleTest needs std::thread and
# std::mutex, which the win32-thread variant lacks. Everything is linked
# statically so the programs run under Wine (and on Windows) without the
# mingw runtime DLLs beside them. Test programs run through Wine's 64-bit
# loader.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(_mingw_triple x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${_mingw_triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_mingw_triple}-g++-posix)
set(CMAKE_RC_COMPILER ${_mingw_triple}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${_mingw_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")

# Debian 12 ships the 64-bit loader here, not as wine64 on the PATH.
if(EXISTS /usr/lib/wine/wine64)
    set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine64)
else()
    find_program(_wine64 NAMES wine64 wine REQUIRED)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${_wine64})
endif()
