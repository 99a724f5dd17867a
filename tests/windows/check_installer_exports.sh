#!/bin/sh
# Checks Installer.dll's export table with objdump: exactly one export, the
# name WRAP_UpdateDriverForPlugAndPlayDevices at ordinal 1, importing
# newdev.dll. With --x86-conventions it also checks the 32-bit build's code:
# the export returns with a plain ret (the caller removes the arguments)
# while it calls the standard-convention import (which removes its own).
# Usage: check_installer_exports.sh OBJDUMP Installer.dll [--x86-conventions]
set -eu
objdump=$1 dll=$2 mode=${3:-}
fail() { echo "check_installer_exports: $*" >&2; exit 1; }

headers=$("$objdump" -p "$dll")
names=$(printf '%s\n' "$headers" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | grep -E '^\s*\[ *[0-9]+\]')
[ "$(printf '%s\n' "$names" | wc -l)" -eq 1 ] || fail "expected one exported name, got: $names"
printf '%s\n' "$names" | grep -Eq '^\s*\[ *0\] WRAP_UpdateDriverForPlugAndPlayDevices$' ||
    fail "unexpected export: $names"
printf '%s\n' "$headers" | grep -Eq '^\s*Export Address Table -- Ordinal Base 1$' ||
    fail "ordinal base is not 1"
addresses=$(printf '%s\n' "$headers" | sed -n '/Export Address Table -- Ordinal Base/,/^$/p' | grep -c '+base\[')
[ "$addresses" -eq 1 ] || fail "expected one export address, got $addresses"
printf '%s\n' "$headers" | grep -q 'DLL Name: newdev.dll' || fail "newdev.dll is not imported"

if [ "$mode" = "--x86-conventions" ]; then
    body=$("$objdump" -d --no-show-raw-insn "$dll" |
        sed -n '/<_WRAP_UpdateDriverForPlugAndPlayDevices>:/,/^$/p')
    [ -n "$body" ] || fail "no code for _WRAP_UpdateDriverForPlugAndPlayDevices (not cdecl?)"
    printf '%s\n' "$body" | grep -Eq 'call.*<_UpdateDriverForPlugAndPlayDevicesA@20>' ||
        fail "the export does not call the stdcall import: $body"
    printf '%s\n' "$body" | grep -Eq '\sret\s*$' || fail "the export does not return with a plain ret"
    if printf '%s\n' "$body" | grep -Eq '\sret\s+\$'; then fail "the export pops its arguments"; fi
fi
echo "check_installer_exports: $dll ok"
