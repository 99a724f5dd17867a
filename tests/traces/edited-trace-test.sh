#!/bin/bash
# edited-trace-test.sh VIRTUAL_PHONE FLASHTOOL_CLI TRACE
# A trace with one host byte changed (the 0xE0 that reads the version, after
# the handshake's 80 bytes) must fail its replay, naming that byte's offset.
set -u
here=$(cd "$(dirname "$0")" && pwd)
edited=$(mktemp)
trap 'rm -f "$edited"' EXIT
sed 's/^\(.*\[Read_Phone_Version\]\) E0$/\1 E2/' "$3" >"$edited"
if cmp -s "$3" "$edited"; then
    echo "FAIL: $3 has no version read to edit"
    exit 1
fi
if output=$(bash "$here/replay-test.sh" "$1" "$2" "$edited"); then
    echo "FAIL: the edited trace replayed without a deviation"
    exit 1
fi
expected="host-deviated host byte 81, Read_Phone_Version: expected 0xE2 (byte 1 of 1 recorded), came 0xE0"
if ! grep -qF "$expected" <<<"$output"; then
    echo "FAIL: the deviation is not named with its offset:"
    echo "$output"
    exit 1
fi
echo "ok: $expected"
