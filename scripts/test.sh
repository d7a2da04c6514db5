#!/usr/bin/env bash
# Builds everything and runs the whole test suite.
#   scripts/test.sh              the ordinary build, in build/
#   scripts/test.sh --sanitize   the same suite built with AddressSanitizer and
#                                UndefinedBehaviorSanitizer, in build-sanitize/; any report fails
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

build=build
options=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
if [ "${1:-}" = "--sanitize" ]; then
  build=build-sanitize
  options=(-DCMAKE_BUILD_TYPE=Debug -DMERIDOCAL_SANITIZE=ON)
  export ASAN_OPTIONS="abort_on_error=1:detect_leaks=1:strict_string_checks=1:check_initialization_order=1"
  export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0"
  export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
fi
cmake -S . -B "$build" "${options[@]}" >/dev/null
cmake --build "$build" -j"$(nproc)"
cd "$build"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j"$(nproc)"
