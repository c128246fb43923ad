#!/usr/bin/env bash
# Installs what Tevrin needs, builds it and runs every test (headless).
#   tools/test.sh              normal build in build/
#   tools/test.sh --sanitize   AddressSanitizer + UBSan build in build-asan/
set -euo pipefail
cd "$(dirname "$0")/.."
SANITIZE=OFF
BUILD=build
if [ "${1:-}" = "--sanitize" ]; then SANITIZE=ON; BUILD=build-asan; fi
if [ "${SKIP_INSTALL:-}" != "1" ]; then bash tools/install-deps.sh; fi
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTEVRIN_SANITIZE=$SANITIZE \
  -DTEVRIN_WERROR="${TEVRIN_WERROR:-OFF}"
cmake --build "$BUILD" -j"$(nproc)"
export QT_QPA_PLATFORM=offscreen
cd "$BUILD"
ctest --output-on-failure -j"$(nproc)" --timeout 600
