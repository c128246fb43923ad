#!/usr/bin/env bash
# Static checks: every C++ file formatted with .clang-format, and every source
# of the build clean under .clang-tidy (any warning fails). Installs nothing.
#   BUILD_DIR   a configured build with compile_commands.json and the
#               generated ui and moc headers (default build/)
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD="${BUILD_DIR:-build}"
if [ ! -f "$BUILD/compile_commands.json" ]; then
  echo "lint: no $BUILD/compile_commands.json; build first (tools/test.sh)" >&2
  exit 2
fi

mapfile -t files < <(git ls-files '*.cpp' '*.h')
echo "lint: clang-format on ${#files[@]} files"
clang-format --dry-run --Werror "${files[@]}"

# The project's own sources, not what the build generated.
root="$(pwd)/"
build_root="$(realpath "$BUILD")/"
mapfile -t sources < <(grep -o '"file": "[^"]*"' "$BUILD/compile_commands.json" | cut -d'"' -f4 |
  grep -F "$root" | grep -vF "$build_root" | sort -u)
# The fuzz harnesses are built only by tools/fuzz.sh; clang-tidy borrows the
# flags of the nearest source in the database for them.
mapfile -t -O "${#sources[@]}" sources < <(git ls-files 'fuzz/*.cpp' | sed "s|^|$root|")
echo "lint: clang-tidy on ${#sources[@]} sources"
log="$BUILD/clang-tidy.log"
if printf '%s\n' "${sources[@]}" |
  xargs -P"$(nproc)" -n1 clang-tidy -p "$BUILD" --quiet --warnings-as-errors='*' >"$log" 2>&1; then
  echo "lint: clean"
else
  grep -v 'warnings\? generated\.$' "$log" >&2 || true
  echo "lint: clang-tidy warnings above (log: $log)" >&2
  exit 1
fi
