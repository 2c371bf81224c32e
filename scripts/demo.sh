#!/usr/bin/env bash
# Sets up the machine, builds, and shows the library answering from Java.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh build
echo "demo: the library is built; the simulated-switch demo arrives with the switch modules."
