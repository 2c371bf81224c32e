#!/usr/bin/env bash
# Sets up the machine, builds, and runs every test: the normal build (C++ and
# Java tests; the benchmarks are built, not run), then the C++ tests and the
# Java tests that drive the library again under AddressSanitizer and UBSan,
# then the fuzz targets for a fixed number of runs each.
set -euo pipefail
cd "$(dirname "$0")/.."
# Most tests wait on consoles (time-outs, pauses) rather than compute: six at
# once keep two cores busy without starving a timing-sensitive one.
jobs=6
# Each phase says how long it took, so that a slow one shows in CI's output.
phase() { echo "== test.sh: $1 done after ${SECONDS}s"; }

# Builds in the background at the lowest priority while tests run: the
# tests mostly wait, and the build takes only the time they leave idle.
# background_build LOG COMMAND...; finish_build LOG shows its output and
# fails when it failed.
build_pid=
background_build() {
  local log=$1
  shift
  (nice -n 19 "$@" >"$log" 2>&1) &
  build_pid=$!
}
finish_build() {
  local rc=0
  wait "$build_pid" || rc=$?
  cat "$1"
  if ((rc != 0)); then
    echo "test.sh: the build logged above failed ($rc)" >&2
    exit "$rc"
  fi
}

scripts/setup.sh
phase setup
scripts/build.sh build -DMODBURN_BENCH=ON
phase build

background_build build-asan.log scripts/build.sh build-asan -DMODBURN_SANITIZE=ON -DMODBURN_JAVA=ON
(cd build && ctest --output-on-failure -j"$jobs")
phase tests
finish_build build-asan.log
phase "sanitized build"

# The fuzz targets need clang's libFuzzer.
background_build build-fuzz.log bash -c "CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DMODBURN_FUZZ=ON -DMODBURN_JAVA=OFF >/dev/null &&
  cmake --build build-fuzz -j$(nproc) --target fuzz_sregex fuzz_url fuzz_telnet fuzz_module"
(cd build-asan && ctest --output-on-failure -j"$jobs")
phase "sanitized tests"
finish_build build-fuzz.log
(cd build-fuzz && ctest --output-on-failure -j2 -R '^fuzz_')
phase fuzz
