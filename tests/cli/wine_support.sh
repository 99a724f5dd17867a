#!/bin/sh
# flashtool-cli.exe support under Wine (scripts/test-windows): the archive is
# a zip that the host's unzip reads, with the README, doctor's, ports' and
# the version's text and a station phone's log taken from a folder in the
# user's profile; the profile folder appears in no member, in either slash
# form. The program needs no zlib1.dll beside it.
# Usage: wine_support.sh WINE FLASHTOOL-CLI.EXE OBJDUMP
set -u
wine=$1
cli=$2
objdump=$3
failed=0
fail() { printf 'FAILED: %s\n' "$*"; failed=1; }

if "$objdump" -p "$cli" | grep -iq 'DLL Name: .*zlib'; then
    fail "flashtool-cli.exe imports zlib's DLL"
else
    echo "ok: zlib is linked in"
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/wine-support.XXXXXX")
trap 'rm -rf "$work"' EXIT
profile=$("$wine" cmd /c echo %USERPROFILE% 2>/dev/null | tr -d '\r')
user=$("$wine" cmd /c echo %USERNAME% 2>/dev/null | tr -d '\r')
host_profile=$("$wine" winepath -u "$profile" 2>/dev/null | tr -d '\r')
[ -n "$profile" ] && [ -n "$user" ] && [ -d "$host_profile" ] ||
    { echo "FAILED: no profile folder ($profile, $host_profile) or user ($user)"; exit 1; }
forward=$(printf '%s' "$profile" | tr '\\' /)

logs=$host_profile/flashtool-support-logs
mkdir -p "$logs"
trap 'rm -rf "$work" "$logs"' EXIT
printf 'image %s\\fw.bin by %s\r\ncopy %s/fw.bin\r\n' "$profile" "$user" "$forward" \
    >"$logs/phone-001-COM3.log"

archive="Z:$(printf '%s' "$work" | tr / '\\')\\support.zip"
out=$("$wine" "$cli" support --out "$archive" --phone 1 --log-dir "$profile\\flashtool-support-logs" 2>&1)
status=$?
[ "$status" -eq 0 ] || fail "support exited with $status: $out"
case $out in
    *support.zip*) echo "ok: it names the archive" ;;
    *) fail "no archive named in: $out" ;;
esac

zip=$work/support.zip
listing=$(unzip -Z1 "$zip" 2>&1)
for member in README.txt version.txt doctor.txt ports.txt logs/phone-001-COM3.log; do
    printf '%s\n' "$listing" | grep -qx "$member" && echo "ok: $member" ||
        fail "no $member in: $listing"
done
unzip -tq "$zip" >/dev/null || fail "unzip finds the archive damaged"
for member in $listing; do
    text=$(unzip -p "$zip" "$member")
    for private in "$profile" "$forward"; do
        if printf '%s' "$text" | grep -Fiq -- "$private"; then
            fail "$member names the profile folder ($private):"
            printf '%s\n' "$text"
        fi
    done
done
log=$(unzip -p "$zip" logs/phone-001-COM3.log)
case $log in
    *'~\fw.bin by USER'*'~/fw.bin'*) echo "ok: the profile is ~ and the user USER" ;;
    *) fail "the log is: $log" ;;
esac
if [ -n "${FLASHTOOL_JOURNAL_BUILT:-}" ]; then
    printf '%s\n' "$listing" | grep -qx journal.csv && echo "ok: journal.csv" ||
        fail "no journal.csv in: $listing"
else
    case $(unzip -p "$zip" README.txt) in
        *"Journal: this build keeps no journal"*) echo "ok: the README says there is no journal" ;;
        *) fail "README.txt: $(unzip -p "$zip" README.txt)" ;;
    esac
fi
exit $failed
