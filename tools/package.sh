#!/usr/bin/env bash
# Builds the Debian package build-package/tevrin_<version>_<arch>.deb and, with
# --install, installs it (apt-get brings in the libraries it needs).
#   tools/package.sh             the package only
#   tools/package.sh --install   the package, then apt-get install it
# The package is always built in a Release tree of its own, build-package/,
# configured here with full RELRO and the /usr prefix; the development trees
# (build/, a Debug one after tools/test.sh) are never used or reconfigured.
set -euo pipefail
cd "$(dirname "$0")/.."
INSTALL=0
if [ "${1:-}" = "--install" ]; then INSTALL=1; fi
BUILD=build-package
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
if [ "${SKIP_INSTALL:-}" != "1" ]; then bash tools/install-deps.sh; fi
# Link every binary with full RELRO, as Debian's hardening asks. The package's
# files go under /usr; `cpack` must not build every test first. Set on every
# run, so a tree left by an older script is put right.
RELRO="${LDFLAGS:-} -Wl,-z,relro -Wl,-z,now"
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON -DTEVRIN_SANITIZE=OFF \
  -DCMAKE_EXE_LINKER_FLAGS="$RELRO" -DCMAKE_SHARED_LINKER_FLAGS="$RELRO" \
  -DCMAKE_MODULE_LINKER_FLAGS="$RELRO" >/dev/null
cmake --build "$BUILD" -j"$(nproc)" \
  --target tevrin tevrin-cli tevrin-chart-server tevrin_webbanner tevrin_packaging_files
rm -f "$BUILD"/tevrin_*.deb
(cd "$BUILD" && cpack -G DEB >/dev/null)
DEB=$(realpath "$BUILD"/tevrin_*.deb)
echo "$DEB"
if [ "$INSTALL" = 1 ]; then
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y "$DEB"
fi
