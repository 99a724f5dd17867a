# Cross-build for 32-bit Windows with Debian's mingw-w64 compilers.
#
# Used to build and inspect the Installer library for x86, where the C and
# the standard calling conventions really differ. This machine runs no 32-bit
# Windows programs, so no emulator is set and nothing of this build is run.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(_mingw_triple i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
