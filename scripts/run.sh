#!/usr/bin/env bash
# The main job: sets up the machine, builds the plug-in and its tools and runs them.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "${TORVI_SKIP_SETUP:-}" != "1" ]; then
    bash scripts/setup.sh
fi

BUILD_DIR=${BUILD_DIR:-build}
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$BUILD_DIR"

echo
echo "Built: $BUILD_DIR/src/plugin/libtorvistat9.so and $BUILD_DIR/tools/torvi-host/torvi-host"
echo "Run the back office with the plug-in: $BUILD_DIR/tools/torvi-host/torvi-host --help"
