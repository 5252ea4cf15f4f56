#!/usr/bin/env bash
# Installs what is missing, builds twice (g++; clang with ASan+UBSan and the
# fuzzers) and runs every test in both builds.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen

echo "== plain build (g++)"
cmake -S . -B build/plain -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DZT_WARNINGS_AS_ERRORS=ON >/dev/null
cmake --build build/plain -j"$jobs"

echo "== sanitizer build (clang, ASan+UBSan)"
CC=clang CXX=clang++ cmake -S . -B build/sanitize -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DZT_SANITIZE=ON -DZT_FUZZ=ON -DZT_WARNINGS_AS_ERRORS=ON >/dev/null
cmake --build build/sanitize -j"$jobs"

echo "== tests under sanitizers"
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
export LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
ctest --test-dir build/sanitize --output-on-failure -j"$jobs" --timeout 300
unset ASAN_OPTIONS LSAN_OPTIONS UBSAN_OPTIONS

echo "== tests, plain build"
ctest --test-dir build/plain --output-on-failure -j"$jobs" --timeout 300
