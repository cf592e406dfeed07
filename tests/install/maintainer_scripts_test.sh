#!/usr/bin/env bash
# The Debian package's postinst and postrm: they make udev take the rule up
# (or drop it) when udevadm is there, and never fail an installation or a
# removal because udevadm is missing or does not work (containers, chroots).
#
# Usage: maintainer_scripts_test.sh <packaging/debian folder>
set -euo pipefail
scripts=$1

fail() {
    echo "FAILED: $*" >&2
    exit 1
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/bin"
# A udevadm that records its arguments and exits with $UDEVADM_STATUS.
cat >"$work/bin/udevadm" <<'STUB'
#!/bin/sh
echo "$*" >>"$UDEVADM_CALLS"
exit "${UDEVADM_STATUS:-0}"
STUB
chmod +x "$work/bin/udevadm"
export UDEVADM_CALLS=$work/calls

# run <script> <argument> <udevadm status or "none">: the script's exit status
# is checked to be 0; the udevadm calls it made are left in $work/calls.
run() {
    local script=$1 argument=$2 udevadm=$3 path=/usr/bin:/bin
    : >"$UDEVADM_CALLS"
    if [ "$udevadm" != none ]; then
        path=$work/bin:$path
    fi
    UDEVADM_STATUS=$udevadm PATH=$path /bin/sh -e "$scripts/$script" "$argument" ||
        fail "$script $argument exited with $? (udevadm: $udevadm)"
}

expect_reload_and_trigger() {
    grep -qx 'control --reload-rules' "$UDEVADM_CALLS" || fail "$1: rules not reloaded"
    grep -q '^trigger .*--subsystem-match=usb.*idVendor=0403' "$UDEVADM_CALLS" ||
        fail "$1: FTDI converters not triggered"
}

for status in 0 1; do
    run postinst configure "$status"
    expect_reload_and_trigger "postinst configure (udevadm exits $status)"
    for argument in remove purge; do
        run postrm "$argument" "$status"
        expect_reload_and_trigger "postrm $argument (udevadm exits $status)"
    done
done

# Steps that must leave udev alone.
for step in "postinst abort-upgrade" "postrm upgrade" "postrm failed-upgrade"; do
    run ${step} 0
    [ ! -s "$UDEVADM_CALLS" ] || fail "$step called udevadm: $(cat "$UDEVADM_CALLS")"
done

# No udevadm at all.
run postinst configure none
run postrm purge none
echo "postinst and postrm: ok"
