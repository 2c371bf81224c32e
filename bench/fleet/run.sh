#!/usr/bin/env bash
# Runs the fleet benchmark from a build (default build/; scripts/build.sh build -DMODBURN_BENCH=ON):
#   bench/fleet/run.sh [--families brocade,cisco|all] [--sizes 1,50,200,1000] [--singles 5]
# Needs root: the simulated consoles listen on port 23 of 127.20.x.y, and the
# descriptor limits are raised for a thousand sessions on each side.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${MODBURN_BUILD:-$root/build}
for f in "$build/java/modburn.jar" "$build/bench/fleet/fleet-bench.jar" "$build/src/libmodburn.so" \
         "$build/bench/fleet/libfleetprobe.so" "$build/sim/switchsim"; do
  [[ -f $f ]] || { echo "fleet bench: $f is missing (scripts/build.sh build -DMODBURN_BENCH=ON)" >&2; exit 3; }
done
ulimit -Sn "$(ulimit -Hn)"
# A fixed, touched heap: the resident figures then move with native memory and stacks only.
exec java -Xms2g -Xmx2g -XX:+AlwaysPreTouch -Djava.library.path="$build/src:$build/bench/fleet" \
  -cp "$build/java/modburn.jar:$build/bench/fleet/fleet-bench.jar" modburn.bench.FleetBench \
  --switchsim "$build/sim/switchsim" --scenarios "$root/sim/scenarios" "$@"
