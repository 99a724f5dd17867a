#!/bin/sh
# flashtool-cli.exe under Wine (scripts/test-windows) against the virtual
# phone on the COM port the script maps: --port takes COMn in any case and
# the \\.\COMn form, opens the port, and names it COMn.
# Usage: wine_port_names.sh WINE FLASHTOOL-CLI.EXE
set -u
wine=$1
cli=$2
n=${FLASHTOOL_WINE_PHONE_PORT:?scripts/test-windows maps the phone and names its port}
failed=0

# expect TEXT COMMAND...: COMMAND succeeds and its output holds TEXT.
expect() {
    text=$1
    shift
    if ! out=$("$wine" "$cli" "$@" 2>&1); then
        echo "FAILED (exit code): $*"; echo "$out"; failed=1; return
    fi
    case $out in
        *"$text"*) echo "ok: $* -> $text" ;;
        *) echo "FAILED: $* does not print '$text'"; echo "$out"; failed=1 ;;
    esac
}

expect "Port: COM$n" read-version --port "COM$n"
expect "Port: COM$n" read-version --port "com$n"
expect "Port: COM$n" read-version --port "\\\\.\\COM$n"
expect "COM$n (\\\\.\\COM$n)" doctor --port "COM$n"
expect "the phone search can use it" doctor --port "COM$n"
expect "on Windows COM5 (or \\\\.\\COM5)" flash --help
exit $failed
