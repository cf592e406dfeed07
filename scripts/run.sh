#!/usr/bin/env bash
# Installs what is missing, builds, and starts against the virtual generator.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
./scripts/build.sh default
export PX418USB_DRIVER=virtual
exec ./build/default/link/px418demo
