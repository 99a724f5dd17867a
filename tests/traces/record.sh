#!/bin/bash
# record.sh BUILD_DIR OUT.trace [read-version] [VIRTUAL-PHONE OPTIONS...]
# Records a trace for this folder: flashtool-cli flash with the sample image
# (or read-version) against the virtual phone (given its fault options, e.g. --fault
# block@2:refuse:0x06), then writes the run's exit code and last line into
# the trace's header, so that the trace replays as a test.
set -u
build=$1 out=$2
shift 2
command=flash
if [ "${1:-}" = read-version ]; then
    command=read-version
    shift
fi
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
# A small image of the sample's kind keeps the trace short: three blocks.
sample_first_length=33000
sample_second_length=1000
make_sample_image "$work/image.bin"

"$build/tools/virtual_phone/virtual-phone" "$@" >"$work/device" &
pid=$!
for _ in $(seq 200); do
    [ -s "$work/device" ] && break
    sleep 0.05
done
HOME=$work TMPDIR=$work XDG_RUNTIME_DIR=$work XDG_CACHE_HOME=$work \
    "$build/cli/flashtool-cli" "$command" $([ "$command" = flash ] && echo "$work/image.bin") \
    --port "$(head -n 1 "$work/device")" --trace "$work/trace" >"$work/out" 2>&1 </dev/null
code=$?
last=$(tail -n 1 "$work/out")
# An elapsed time differs from run to run.
case $last in "Elapsed time: "*) last="Elapsed time: *" ;; esac
{
    head -n 1 "$work/trace"
    echo "# expect-exit: $code"
    echo "# expect-last-line: $last"
    [ "$command" = flash ] && echo "# sample-image: $sample_first_length $sample_second_length"
    tail -n +2 "$work/trace"
} >"$out"
echo "$out: exit $code, \"$last\""
