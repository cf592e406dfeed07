#!/usr/bin/env bash
# Installs what is missing, builds, and starts px418 against the built-in
# virtual generator (no hardware needed). Pass "--hardware" to use real FTDI
# converters instead.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
./scripts/build.sh default
if [ "${1:-}" = "--hardware" ]; then
  unset PX418USB_DRIVER
else
  export PX418USB_DRIVER=virtual
fi
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display found: starting px418 on a virtual X server (xvfb-run); nothing will be visible." >&2
  exec xvfb-run -a ./build/default/app/px418
fi
exec ./build/default/app/px418
