#!/bin/sh
# flashtool-cli.exe under Wine (scripts/test-windows) against the virtual
# phone on the COM port the script maps: --port takes COMn in any case and
# the \\.\COMn form, opens the port, and names it COMn in every message, and
# a second one is refused; a COM port that does not exist is named as missing.
# The flash is kept in a journal of its own, read back by journal.
# Usage: wine_port_names.sh WINE FLASHTOOL-CLI.EXE
set -u
wine=$1
cli=$2
n=${FLASHTOOL_WINE_PHONE_PORT:?scripts/test-windows maps the phone and names its port}
failed=0

# expect CODE TEXT COMMAND...: COMMAND exits with CODE and prints TEXT.
expect() {
    code=$1
    text=$2
    shift 2
    out=$("$wine" "$cli" "$@" 2>&1)
    status=$?
    if [ "$status" -ne "$code" ]; then
        printf 'FAILED (exit code %s, not %s): %s\n%s\n' "$status" "$code" "$*" "$out"
        failed=1
        return
    fi
    case $out in
        *"$text"*) printf 'ok: %s -> %s\n' "$*" "$text" ;;
        *) printf "FAILED: %s does not print '%s'\n%s\n" "$*" "$text" "$out"; failed=1 ;;
    esac
}

expect 0 "Port: COM$n" read-version --port "COM$n"
expect 0 "Port: COM$n" read-version --port "com$n"
expect 0 "Port: COM$n" read-version --port "\\\\.\\COM$n"
expect 0 "COM$n (\\\\.\\COM$n)" doctor --port "COM$n"
expect 0 "the phone search can use it" doctor --port "COM$n"
expect 0 "on Windows COM5 (or \\\\.\\COM5)" flash --help
expect 0 "Port: COM$n" read-version --port "COM0$n"
# One port a run, in whichever forms the two are typed.
expect 1 "--port is given twice: read-version uses one port; give it once" \
    read-version --port "COM$n" --port="\\\\.\\COM$n"

# An image for another language: the update stops at the version check,
# after the found line, whatever record the phone holds.
be32() { printf "\\$(printf %03o $(($1 >> 24 & 255)))\\$(printf %03o $(($1 >> 16 & 255)))"
         printf "\\$(printf %03o $(($1 >> 8 & 255)))\\$(printf %03o $(($1 & 255)))"; }
image=port-names-image.bin
{
    printf '\000\067\000\036%s\245' CVLbootloaderVC_M418ENUSA00101  # lengths 55 and 30
    be32 $((0x10000)); be32 $((0x1000F)); printf '\245\245\245\245'
    be32 $((0x20000)); be32 $((0x2000F))
    printf '0123456789abcdef0123456789abcdef'
} >"$image"
journal=port-names-journal.sqlite
rm -f "$journal" "$journal-wal" "$journal-shm"
expect 4 "找到通訊埠 COM$n" flash "$image" --port "\\\\.\\COM$n" --lang en --journal "$journal"
# The journal keeps that flash: its result, the image's digest, the bytes sent.
if [ "${FLASHTOOL_JOURNAL_BUILT:-0}" = 1 ]; then
    digest=$(sha256sum "$image" | cut -d' ' -f1)
    expect 0 "\"result\":\"failed_before_programming\"" journal --json --journal "$journal"
    expect 0 "\"image_sha256\":\"$digest\"" journal --json --journal "$journal"
    expect 0 "\"bytes\":0" journal --json --journal "$journal"
    expect 0 "failed_step" journal --csv --journal "$journal"
    expect 0 "phones 1, updated 0" journal stats --journal "$journal"
    # A record still running whose program is gone (as a killed one leaves it)
    # is interrupted at the next start.
    sqlite3 "$journal" "UPDATE sessions SET result = 'running'" 2>&1
    expect 0 "\"result\":\"interrupted\"" journal --json --journal "$journal"
    # This build forwards to no line server: said, and the records stay here.
    expect 1 "this build forwards to no server; the records stay in the local journal" \
        journal sync --journal "$journal" --journal-server "host=line dbname=flashtool"
else
    expect 1 "this build keeps no journal" journal --json --journal "$journal"
fi
rm -f "$journal" "$journal-wal" "$journal-shm"
# A port that does not exist is named as missing, not as a phone that did not answer.
expect 3 "flashtool-cli: COM99 does not exist, the phone was not changed." \
    flash "$image" --port com99 --lang en
expect 3 "COM99 does not exist." read-version --port COM99
# The station's ports too: one port under two spellings is named twice.
expect 1 "--port names 'COM0$n' twice" station "$image" --port "COM$n" --port "COM0$n"
rm -f "$image"
exit $failed
