#!/usr/bin/env bash
# Sets up the machine, builds, and runs every test: the normal build (C++ and
# Java tests; the benchmarks are built, not run), then the C++ tests and the
# Java tests that drive the library again under AddressSanitizer and UBSan.
set -euo pipefail
cd "$(dirname "$0")/.."
# Most tests wait on consoles (time-outs, pauses) rather than compute: six at
# once keep two cores busy without starving a timing-sensitive one.
jobs=6
# Each phase says how long it took, so that a slow one shows in CI's output.
phase() { echo "== test.sh: $1 done after ${SECONDS}s"; }
scripts/setup.sh
phase setup
scripts/build.sh build -DMODBURN_BENCH=ON
phase build
(cd build && ctest --output-on-failure -j"$jobs")
phase tests
scripts/build.sh build-asan -DMODBURN_SANITIZE=ON -DMODBURN_JAVA=ON
phase "sanitized build"
(cd build-asan && ctest --output-on-failure -j"$jobs")
phase "sanitized tests"
# The fuzz targets (clang's libFuzzer), each for a fixed number of runs.
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMODBURN_FUZZ=ON -DMODBURN_JAVA=OFF >/dev/null
cmake --build build-fuzz -j"$(nproc)" --target fuzz_sregex fuzz_url fuzz_telnet fuzz_module
(cd build-fuzz && ctest --output-on-failure -j2 -R '^fuzz_')
phase fuzz
