#!/bin/sh
# Checks a window program's headers (flashtool.exe, flashtool-station.exe)
# with objdump: a GUI-subsystem program that imports only DLLs of the system
# (the C++ and thread runtimes are linked in, so nothing has to lie beside it).
# Usage: check_window_exe.sh OBJDUMP PROGRAM.exe
set -eu
objdump=$1 exe=$2
fail() { echo "check_window_exe: $*" >&2; exit 1; }

headers=$("$objdump" -p "$exe")
printf '%s\n' "$headers" | grep -Eq '^Subsystem\s+00000002\s+\(Windows GUI\)$' ||
    fail "not a GUI-subsystem program"
imports=$(printf '%s\n' "$headers" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z')
[ -n "$imports" ] || fail "no imports found"
for dll in $imports; do
    case "$dll" in
        kernel32.dll | user32.dll | gdi32.dll | comctl32.dll | comdlg32.dll | advapi32.dll | \
            shell32.dll | ole32.dll | msvcrt.dll | version.dll | setupapi.dll) ;;
        *) fail "imports $dll, which is not part of Windows" ;;
    esac
done
echo "check_window_exe: $exe ok ($(printf '%s\n' "$imports" | tr '\n' ' '))"
