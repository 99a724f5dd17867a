#!/bin/bash
# replay-test.sh VIRTUAL_PHONE FLASHTOOL_CLI TRACE
# Replays TRACE with the virtual phone and runs flashtool-cli against it, the
# command the trace's first note names (flash or read-version): passes when the exit code and the output's last line are the ones in
# the trace's header ("# expect-exit: N", "# expect-last-line: TEXT", where a
# TEXT ending in "*" matches any line that starts with the rest) and the host
# wrote what the recorded host wrote. The image is the sample image
# (scripts/lib/sample-image.sh) with the regions' lengths the header gives
# ("# sample-image: FIRST SECOND"), or the file beside the trace that it
# names ("# image: FILE"); its data may differ from the recorded one's.
# REPLAY_OPTIONS: more options for the virtual phone (--fast).
set -u
phone=$1 cli=$2 trace=$3
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
pid=
cleanup() {
    [ -n "$pid" ] && kill "$pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
# shellcheck source=../../scripts/lib/sample-image.sh
. "$here/../../scripts/lib/sample-image.sh"

header() { sed -n "s/^# $1: //p" "$trace" | head -n 1; }
expect_exit=$(header expect-exit)
expect_last=$(header expect-last-line)
if [ -z "$expect_exit" ] || [ -z "$expect_last" ]; then
    echo "FAIL: $trace has no \"# expect-exit:\" or \"# expect-last-line:\" line"
    exit 1
fi
# The command line the recorded run noted first: "[flashtool-cli] command
# read-version --port ..." (in a trace of the first format: "-- command ...").
command=$(sed -n 's/.*flashtool-cli.* command \(flash\|read-version\)\b.*/\1/p' "$trace" | head -n 1)
command=${command:-flash}
image=$(header image)
if [ "$command" = read-version ]; then
    image=
elif [ -n "$image" ]; then
    image=$(dirname "$trace")/$image
else
    image=$work/image.bin
    read -r first second <<<"$(header sample-image)"
    sample_first_length=${first:-$sample_first_length}
    sample_second_length=${second:-$sample_second_length}
    make_sample_image "$image"
fi

# shellcheck disable=SC2086 # options, split on purpose
"$phone" --replay "$trace" --any-image ${REPLAY_OPTIONS:-} --log "$work/phone.log" >"$work/device" 2>"$work/phone.err" &
pid=$!
for _ in $(seq 200); do
    [ -s "$work/device" ] && break
    sleep 0.05
done
device=$(head -n 1 "$work/device")
if [ -z "$device" ]; then
    echo "FAIL: the virtual phone did not start:"
    cat "$work/phone.err"
    exit 1
fi

HOME=$work TMPDIR=$work XDG_RUNTIME_DIR=$work XDG_CACHE_HOME=$work \
    "$cli" "$command" ${image:+"$image"} --port "$device" >"$work/out" 2>&1 </dev/null
code=$?
kill -TERM "$pid"
wait "$pid"
phone_code=$?
pid=
last=$(tail -n 1 "$work/out")

failed=0
if [ "$code" != "$expect_exit" ]; then
    echo "FAIL: exit code $code, the recorded run's was $expect_exit"
    failed=1
fi
case $expect_last in
    *\*) matches() { case $1 in "${expect_last%\*}"*) return 0 ;; esac; return 1; } ;;
    *) matches() { [ "$1" = "$expect_last" ]; } ;;
esac
if ! matches "$last"; then
    echo "FAIL: last line \"$last\", the recorded run's was \"$expect_last\""
    failed=1
fi
if [ "$phone_code" != 0 ]; then
    echo "FAIL: the host did not write what the recorded host wrote (virtual-phone exit $phone_code):"
    cat "$work/phone.err"
    failed=1
fi
if [ "$failed" != 0 ]; then
    echo "--- flashtool-cli's output:"
    cat "$work/out"
    exit 1
fi
echo "ok: exit $code, \"$last\", no deviation"
