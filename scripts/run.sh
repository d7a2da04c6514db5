#!/usr/bin/env bash
# Builds the program and starts it from the build folder, where sec.mdb and girl.gif lie beside it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target meridocal_app -j"$(nproc)"
cd build
exec ./meridocal
