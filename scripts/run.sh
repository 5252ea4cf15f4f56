#!/usr/bin/env bash
# Installs what is missing, builds the application and runs it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

cmake -S . -B build/app -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZT_BUILD_TESTS=OFF >/dev/null
cmake --build build/app -j"$(nproc)" --target ZimtorvaCompanion

exec build/app/ZimtorvaCompanion.app/Contents/MacOS/ZimtorvaCompanion
