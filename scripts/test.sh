#!/usr/bin/env bash
# Sets up the machine, builds with AddressSanitizer and UndefinedBehaviorSanitizer, checks the
# formatting and runs every test without a display. Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "${TORVI_SKIP_SETUP:-}" != "1" ]; then
    bash scripts/setup.sh
fi

echo "== clang-format"
mapfile -t sources < <(git ls-files -- '*.cpp' '*.h' 2>/dev/null || find src tools tests bench include -name '*.cpp' -o -name '*.h')
clang-format --dry-run -Werror "${sources[@]}"

echo "== layers"
bash scripts/check-layers.sh

BUILD_DIR=${BUILD_DIR:-build-sanitize}
echo "== configure ($BUILD_DIR)"
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g" -DTORVI_SANITIZE=ON -DTORVI_WERROR=ON

echo "== packages"
bash scripts/check-packages.sh "$BUILD_DIR"

echo "== build"
cmake --build "$BUILD_DIR"
echo "== every header on its own"
cmake --build "$BUILD_DIR" --target torvi_header_check

echo "== PostgreSQL test cluster"
# Stopped however the tests end; the tests that need the server find it through the exports.
PG_TEST_DIR=$(mktemp -d /tmp/torvi-pg.XXXXXX)
trap 'bash scripts/pg-test-cluster.sh stop "$PG_TEST_DIR"' EXIT
PG_TEST_ENV=$(bash scripts/pg-test-cluster.sh start "$PG_TEST_DIR" "${TORVI_PG_PORT:-55432}")
eval "$PG_TEST_ENV"

echo "== tests"
export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$BUILD_DIR" --output-on-failure --timeout 900 -j2
