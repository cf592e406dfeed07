#!/bin/sh
# px418ctl as a process. On SIGTERM, watch ends with status 0 after its
# lines, a sweep stops after the write in progress with status 143 and
# says so, and a sequence run writes its end settings and ends with 143; a
# manual state of a run ends at Enter. Output that cannot be written is a failure, not a success, said
# once. A virtual generator kept in a state file is shared between calls; a
# state file that cannot be used leaves what the name stands for alone, and
# fails a set that it cannot keep.
# Usage: process.sh PX418CTL (with PX418USB_DRIVER=virtual)
set -u
ctl=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Waits (up to 10 s) until a file has a first line.
first_line() {
    i=0
    while [ ! -s "$1" ] && [ $i -lt 100 ]; do
        sleep 0.1
        i=$((i + 1))
    done
}

fail() {
    echo "$1"
    for f in "$work"/*; do
        [ -f "$f" ] || continue
        echo "--- $f"
        cat "$f"
    done
    exit 1
}

"$ctl" watch >"$work/watch.out" 2>"$work/watch.err" &
pid=$!
first_line "$work/watch.out"
kill -TERM $pid
wait $pid
status=$?
[ $status -eq 0 ] || fail "watch: exit status $status, expected 0"
[ "$(cat "$work/watch.out")" = "A freq 50.000 Hz" ] || fail "watch: unexpected output"
[ ! -s "$work/watch.err" ] || fail "watch: unexpected error output"

"$ctl" sweep A freq 1 3000 --step 1 --dwell 100 >"$work/sweep.out" 2>"$work/sweep.err" &
pid=$!
first_line "$work/sweep.out"
kill -TERM $pid
wait $pid
status=$?
[ $status -eq 143 ] || fail "sweep: exit status $status, expected 143"
steps=$(wc -l <"$work/sweep.out")
[ "$steps" -ge 1 ] && [ "$steps" -lt 3000 ] || fail "sweep: $steps steps"
grep -q "^px418ctl: sweep stopped after $steps of 3000 steps$" "$work/sweep.err" \
    || fail "sweep: no stop message for $steps steps"
if [ -w /dev/full ]; then
    "$ctl" get >/dev/full 2>"$work/full.err"
    status=$?
    [ $status -eq 74 ] || fail "get >/dev/full: exit status $status, expected 74"
    "$ctl" watch >/dev/full 2>"$work/full.err"
    status=$?
    [ $status -eq 74 ] || fail "watch >/dev/full: exit status $status, expected 74"
    [ "$(wc -l <"$work/full.err")" -eq 1 ] || fail "watch >/dev/full: not one message"
fi
# With a state file, every call meets the same virtual generator: a value set
# by one call is read by the next, and a watch sees a setting made by another.
export PX418USB_VIRTUAL_STATE="$work/generator.state"
"$ctl" set A freq 60.5 B phase -90 || fail "shared: set failed"
[ "$("$ctl" get A freq)" = "60.500" ] || fail "shared: A freq not kept between calls"
[ "$("$ctl" get B phase)" = "-90.0" ] || fail "shared: B phase not kept between calls"
"$ctl" watch >"$work/shared_watch.out" 2>"$work/shared_watch.err" &
pid=$!
first_line "$work/shared_watch.out"
"$ctl" set C ampl 3 || fail "shared: second set failed"
i=0
while [ "$(wc -l <"$work/shared_watch.out")" -lt 2 ] && [ $i -lt 100 ]; do
    sleep 0.1
    i=$((i + 1))
done
kill -TERM $pid
wait $pid
[ "$(sed -n 2p "$work/shared_watch.out")" = "C ampl 3.00 V peak" ] \
    || fail "shared: watch did not see the other call's setting"
# A sequence run: Enter on standard input ends a manual state; SIGTERM stops
# a run with status 143 after putting back what the generator had before.
printf '[State Hold]\nDuration=manual\nA freq=61\n[State Then]\nDuration=0\nB freq=62\n' \
    >"$work/manual.seq"
echo | "$ctl" run "$work/manual.seq" >"$work/manual.out" 2>"$work/manual.err" \
    || fail "run: a manual state ended by Enter failed"
grep -q '^Then: ' "$work/manual.out" || fail "run: Enter did not end the manual state"
grep -q 'Hold waits: press Enter' "$work/manual.err" || fail "run: no prompt for Enter"
printf '[State Long]\nDuration=60000\nA freq=63\n' >"$work/long.seq"
"$ctl" run "$work/long.seq" >"$work/long.out" 2>"$work/long.err" &
pid=$!
first_line "$work/long.out"
kill -TERM $pid
wait $pid
status=$?
[ $status -eq 143 ] || fail "run: exit status $status, expected 143"
grep -q '^end settings (before the run): .*A freq 60.500 Hz$' "$work/long.out" \
    || fail "run: no end settings after SIGTERM"
[ "$("$ctl" get A freq)" = "60.500" ] || fail "run: the generator not put back after SIGTERM"
# A pipe named as the state file is left alone: commands neither hang nor
# replace it. A state file that cannot be locked fails a set (status 1).
mkfifo "$work/pipe.state"
PX418USB_VIRTUAL_STATE="$work/pipe.state" timeout 10 "$ctl" set A freq 1 2>"$work/pipe.err"
status=$?
[ $status -eq 0 ] || fail "pipe as state file: exit status $status, expected 0"
[ -p "$work/pipe.state" ] || fail "pipe as state file: replaced"
grep -q 'pipe.state" is not a regular file; it is left alone' "$work/pipe.err" \
    || fail "pipe as state file: not said"
rm "$work/generator.state.lock" && mkdir "$work/generator.state.lock"
"$ctl" set A freq 1 2>"$work/unlocked.err"
status=$?
[ $status -eq 1 ] || fail "state file without its lock: set exit status $status, expected 1"
[ "$("$ctl" get A freq 2>/dev/null)" = "60.500" ] || fail "state file without its lock: get"
unset PX418USB_VIRTUAL_STATE

echo "watch and sweep stopped cleanly ($steps sweep steps); the shared generator is kept"
