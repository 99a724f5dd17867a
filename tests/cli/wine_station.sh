#!/bin/sh
# flashtool-cli.exe station under Wine (scripts/test-windows) with two virtual
# phones on the COM ports the script maps: both named with --port, both
# updated in one run, each line and the JSON Lines naming its COM port; one
# named "COM0n" is the map's COMn.
# Usage: wine_station.sh WINE FLASHTOOL-CLI.EXE
set -u
wine=$1
cli=$2
ports=${FLASHTOOL_WINE_STATION_PORTS:?scripts/test-windows maps two phones and names their ports}
set -- $ports
a=$1
b=$2
failed=0

# The station watches the registry's serial-port map, as Windows fills it when
# a port comes: the two ports are entered there for the run, and taken out
# again at its end.
map='HKLM\HARDWARE\DEVICEMAP\SERIALCOMM'
for n in "$a" "$b"; do
    "$wine" reg add "$map" /v "\\Device\\StationPhone$n" /t REG_SZ /d "COM$n" /f >/dev/null 2>&1
done
unmap() {
    for n in "$a" "$b"; do
        "$wine" reg delete "$map" /v "\\Device\\StationPhone$n" /f >/dev/null 2>&1
    done
}
trap unmap EXIT

be32() { printf "\\$(printf %03o $(($1 >> 24 & 255)))\\$(printf %03o $(($1 >> 16 & 255)))"
         printf "\\$(printf %03o $(($1 >> 8 & 255)))\\$(printf %03o $(($1 & 255)))"; }
image=station-image.bin
{
    printf '\000\067\000\036%s\245' CVLbootloaderVC_M418ZHTWA00101  # lengths 55 and 30
    be32 $((0x10000)); be32 $((0x1000F)); printf '\245\245\245\245'
    be32 $((0x20000)); be32 $((0x2000F))
    printf '0123456789abcdef0123456789abcdef'
} >"$image"

# check CODE OUTPUT TEXT...: the run exited with CODE and printed every TEXT.
check() {
    code=$1
    out=$2
    shift 2
    if [ "$status" -ne "$code" ]; then
        printf 'FAILED (exit code %s, not %s)\n%s\n' "$status" "$code" "$out"
        failed=1
        return
    fi
    for text in "$@"; do
        case $out in
            *"$text"*) printf 'ok: %s\n' "$text" ;;
            *) printf "FAILED: no '%s' in\n%s\n" "$text" "$out"; failed=1 ;;
        esac
    done
}

out=$("$wine" "$cli" station "$image" --port "COM$a" --port "\\\\.\\COM$b" --count 2 \
      --timeout 60 --lang en 2>&1)
status=$?
check 0 "$out" "phone 1 COM" "COM$a: finished: updated" "COM$b: finished: updated" \
    "flashtool-cli: 2 updated, 0 failed"

journal=station-journal.sqlite
rm -f "$journal" "$journal-wal" "$journal-shm"
out=$("$wine" "$cli" station "$image" --port "com$a" --port "COM$b" --count 2 --timeout 60 \
      --json --journal "$journal" --station-name wine-line 2>/dev/null)
status=$?
check 0 "$out" "\"event\":\"finished\",\"phone\":1" "\"port\":\"COM$a\"" "\"port\":\"COM$b\"" \
    "\"result\":\"updated\"" "\"event\":\"summary\"" "\"exit_code\":0"
# Both phones are in the run's journal, updated, with the image's digest.
if [ "${FLASHTOOL_JOURNAL_BUILT:-0}" = 1 ]; then
    digest=$(sha256sum "$image" | cut -d' ' -f1)
    out=$("$wine" "$cli" journal --json --journal "$journal" --result updated 2>&1)
    status=$?
    check 0 "$out" "\"port\":\"COM$a\"" "\"port\":\"COM$b\"" "\"station\":\"wine-line\"" \
        "\"image_sha256\":\"$digest\""
    out=$("$wine" "$cli" journal stats --journal "$journal" 2>&1)
    status=$?
    check 0 "$out" "phones 2, updated 2"
fi
rm -f "$journal" "$journal-wal" "$journal-shm"
# A port named with a leading zero is the port the map lists without one.
out=$("$wine" "$cli" station "$image" --port "COM0$a" --count 1 --timeout 60 --lang en 2>&1)
status=$?
check 0 "$out" "COM$a: finished: updated" "flashtool-cli: 1 updated, 0 failed"
rm -f "$image"
exit $failed
