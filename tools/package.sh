#!/usr/bin/env bash
# Builds the Debian package build/tevrin_<version>_<arch>.deb and, with
# --install, installs it (apt-get brings in the libraries it needs).
#   tools/package.sh             the package only
#   tools/package.sh --install   the package, then apt-get install it
# BUILD=dir selects the build folder (default build). An existing one is reused
# as configured; a new one is a Release build of only the installed targets.
set -euo pipefail
cd "$(dirname "$0")/.."
INSTALL=0
if [ "${1:-}" = "--install" ]; then INSTALL=1; fi
BUILD="${BUILD:-build}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
if [ "${SKIP_INSTALL:-}" != "1" ]; then bash tools/install-deps.sh; fi
if [ ! -f "$BUILD/CMakeCache.txt" ]; then
  # Link every binary with full RELRO, as Debian's hardening asks.
  LDFLAGS="${LDFLAGS:-} -Wl,-z,relro -Wl,-z,now" \
    cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release
fi
# The package's files go under /usr; `cpack` must not build every test first.
cmake "$BUILD" -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON >/dev/null
cmake --build "$BUILD" -j"$(nproc)" \
  --target tevrin tevrin-cli tevrin-chart-server tevrin_webbanner tevrin_packaging_files
rm -f "$BUILD"/tevrin_*.deb
(cd "$BUILD" && cpack -G DEB >/dev/null)
DEB=$(realpath "$BUILD"/tevrin_*.deb)
echo "$DEB"
if [ "$INSTALL" = 1 ]; then
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y "$DEB"
fi
