#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build-fuzz/ and runs each for a
# bounded time on a copy of its seed inputs. Installs nothing.
#   FUZZ_SECONDS   time per target (default 60)
#   FUZZ_TARGETS   which targets (default: all five)
#   BUILD_DIR      build directory (default build-fuzz)
# Exits non-zero when any target crashes, leaks, times out, runs out of memory
# or gets a sanitizer report; the reproducer is left in build-fuzz/findings/.
set -euo pipefail
cd "$(dirname "$0")/.."
SECONDS_EACH="${FUZZ_SECONDS:-60}"
TARGETS="${FUZZ_TARGETS:-chartpage savedtable fulltexts profile exportline}"
BUILD="${BUILD_DIR:-build-fuzz}"

CC=clang CXX=clang++ cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DTEVRIN_FUZZ=ON -DTEVRIN_SANITIZE=ON >/dev/null
cmake --build "$BUILD" -j"$(nproc)" --target $(for t in $TARGETS; do printf 'fuzz_%s ' "$t"; done)

# Leaks count as findings: Qt leaks nothing in these targets.
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:symbolize=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
export QT_QPA_PLATFORM=offscreen

status=0
summary=""
mkdir -p "$BUILD/findings"
for t in $TARGETS; do
  corpus="$BUILD/corpus/$t"
  rm -rf "$corpus"
  mkdir -p "$corpus"
  cp -r "fuzz/corpus/$t/." "$corpus/"
  log="$BUILD/fuzz_$t.log"
  # Room for a whole chart page; the other inputs are small by nature.
  max_len=4096
  if [ "$t" = chartpage ]; then max_len=20000; fi
  echo "== fuzz_$t: ${SECONDS_EACH}s"
  rc=0
  "$BUILD/fuzz/fuzz_$t" -max_total_time="$SECONDS_EACH" -timeout=10 -rss_limit_mb=2048 -max_len="$max_len" \
    -detect_leaks=1 -print_final_stats=1 -artifact_prefix="$BUILD/findings/${t}-" \
    "$corpus" >"$log" 2>&1 || rc=$?
  done_line=$(grep -E '^#[0-9]+[[:space:]]+DONE' "$log" | tail -1 || true)
  if [ "$rc" -ne 0 ] || grep -qE 'ERROR: (AddressSanitizer|LeakSanitizer|libFuzzer)|runtime error:|INVARIANT BROKEN' "$log"; then
    status=1
    echo "fuzz_$t FAILED (exit $rc); log: $log"
    grep -E 'ERROR:|runtime error:|INVARIANT BROKEN|SUMMARY:|Test unit written' -A2 "$log" | head -40 || true
    summary+="fuzz_$t: FAILED (exit $rc)"$'\n'
  else
    echo "fuzz_$t: $done_line"
    summary+="fuzz_$t: ${done_line:-no final line}"$'\n'
  fi
done
echo "== summary"
printf '%s' "$summary"
exit $status
