#!/usr/bin/env bash
# The bundled chart site where systemd does not run, on its default address:
# started by the tools themselves, once for everyone, detached, and for no
# address the user set. Run by the packaging and the fresh-install checks as
# root inside a private network and process namespace (bwrap --unshare-net
# --unshare-pid), so that the default port is this check's alone and nothing
# started here outlives it.
#   tools/bundled-site-check.sh PREFIX SCRATCH USER_A USER_B
# PREFIX holds usr/bin/tevrin* (empty for an installed package); SCRATCH is a
# folder the two users may write into. The window runs offscreen, and on an X
# server of the check's own for the site link (which needs a private /tmp).
set -euo pipefail
PREFIX=$1
SCRATCH=$2
USER_A=$3
USER_B=$4
BIN="$PREFIX/usr/bin"
DEFAULT_PORT=8399
PASSED=0
pass() { echo "ok: $*"; PASSED=$((PASSED + 1)); }
fail() { echo "FAILED: $*" >&2; exit 1; }

home_of() { echo "$SCRATCH/home-$1"; }
# A user's session: nothing of this shell's environment but what is named.
as() {
  local who=$1
  shift
  local home
  home=$(home_of "$who")
  mkdir -p "$home"
  chown "$who" "$home"
  setpriv --reuid="$who" --regid="$(id -g "$who")" --clear-groups \
    env -i HOME="$home" PATH="${FAKE_PATH:-}/usr/bin:/bin" LANG=C.UTF-8 "$@"
}
window_env=(QT_QPA_PLATFORM=offscreen QTWEBENGINE_DISABLE_SANDBOX=1
  "QTWEBENGINE_CHROMIUM_FLAGS=--disable-gpu --no-sandbox")

# The chart servers of this process namespace: pid and command line.
servers() {
  local pid
  for pid in /proc/[0-9]*; do
    if tr '\0' ' ' <"$pid/cmdline" 2>/dev/null | grep -q '^[^ ]*tevrin-chart-server '; then
      echo "${pid#/proc/} $(tr '\0' ' ' <"$pid/cmdline")"
    fi
  done
}
stop_servers() {
  local pid
  for pid in $(servers | cut -d' ' -f1); do kill "$pid" 2>/dev/null || true; done
  for _ in $(seq 100); do
    [ -z "$(servers)" ] && return 0
    sleep 0.1
  done
  fail "a chart server did not end"
}
closed_port() {
  # Nothing listens in this private network but what the check starts.
  echo 22999
}

[ -z "$(servers)" ] || fail "a chart server runs before the check"

# 1. A scan with nothing on the default port: the server is started from
# beside tevrin-cli, detached (its output is no pipe of the caller's, or this
# command substitution would not end), and with an idle end.
OUT=$(as "$USER_A" timeout 60 "$BIN/tevrin-cli" scan 5 --lang rus) || fail "tevrin-cli scan on the default address"
ROWS=$(printf '%s\n' "$OUT" | grep -c .)
[ "$ROWS" -gt 0 ] || fail "the scan on the default address found no channel"
RUNNING=$(servers)
[ "$(printf '%s\n' "$RUNNING" | grep -c .)" -eq 1 ] || fail "not one chart server: $RUNNING"
printf '%s\n' "$RUNNING" | grep -q -- "--port $DEFAULT_PORT --idle-exit [1-9]" ||
  fail "the started server: $RUNNING"
pass "tevrin-cli finds nothing on 127.0.0.1:$DEFAULT_PORT and starts the bundled server ($ROWS channels): ${RUNNING#* }"

# 2. Two users, the window and a batch, all at once and with no server yet:
# one server serves them all.
stop_servers
as "$USER_A" timeout 120 "$BIN/tevrin-cli" scan --all --lang rus --compare --save >"$SCRATCH/batch.out" 2>&1 &
BATCH=$!
as "$USER_B" timeout 60 "$BIN/tevrin-cli" scan 5 --lang rus >"$SCRATCH/single.out" 2>&1 &
SINGLE=$!
as "$USER_B" TEVRIN_PROBE_BANNER=1 "${window_env[@]}" timeout 120 "$BIN/tevrin" >"$SCRATCH/window.out" 2>&1 &
WINDOW=$!
STATUS=0
wait "$BATCH" || STATUS=$?
[ "$STATUS" -eq 1 ] || fail "the batch: status $STATUS (1: no saved tables yet) $(tail -3 "$SCRATCH/batch.out")"
[ "$(grep -c 'нет более ранних записей' "$SCRATCH/batch.out")" -eq 18 ] || fail "the batch: $(cat "$SCRATCH/batch.out")"
wait "$SINGLE" || fail "the second user's scan: $(tail -3 "$SCRATCH/single.out")"
wait "$WINDOW" || fail "the window: status $? $(grep 'tevrin:' "$SCRATCH/window.out" || true)"
grep -q "^tevrin: banner page loaded: http://127.0.0.1:$DEFAULT_PORT/reklama.html" "$SCRATCH/window.out" ||
  fail "the window's banner: $(grep 'tevrin:' "$SCRATCH/window.out" || true)"
[ "$(servers | grep -c .)" -eq 1 ] || fail "not one chart server: $(servers)"
pass "$USER_A's batch of 18, $USER_B's scan and $USER_B's window at once: all served by one chart server"

# 3. The site link opens in the browser after the tool has ended. The
# "browser" is a stand-in that waits for the tool's end, then fetches the page.
stop_servers
FAKE_BIN="$SCRATCH/browser-bin"
mkdir -p "$FAKE_BIN"
cat >"$FAKE_BIN/xdg-open" <<EOF
#!/bin/bash
for _ in \$(seq 300); do [ -e "$SCRATCH/tool-ended" ] && break; sleep 0.1; done
url=\$1; hostport=\${url#http://}; hostport=\${hostport%%/*}
exec 3<>"/dev/tcp/\${hostport%:*}/\${hostport#*:}" || exit 1
printf 'GET / HTTP/1.0\r\nHost: %s\r\n\r\n' "\$hostport" >&3
cat <&3 >"$SCRATCH/browser.out"
EOF
chmod 755 "$FAKE_BIN/xdg-open"
chmod 777 "$SCRATCH"
# Only a real display opens addresses; this one lives in the check's own /tmp.
Xvfb -displayfd 3 -nolisten tcp 3>"$SCRATCH/display" 2>/dev/null &
XVFB=$!
for _ in $(seq 100); do
  [ -s "$SCRATCH/display" ] && break
  sleep 0.1
done
[ -s "$SCRATCH/display" ] || fail "no X display for the link"
FAKE_PATH="$FAKE_BIN:" as "$USER_B" TEVRIN_PROBE_LINK=1 DISPLAY=":$(cat "$SCRATCH/display")" \
  timeout 60 "$BIN/tevrin" >"$SCRATCH/link.out" 2>&1 || fail "the window with the link: $(cat "$SCRATCH/link.out")"
touch "$SCRATCH/tool-ended"
kill "$XVFB"
for _ in $(seq 300); do
  grep -q '</html>' "$SCRATCH/browser.out" 2>/dev/null && break
  sleep 0.1
done
head -n 1 "$SCRATCH/browser.out" 2>/dev/null | grep -q '^HTTP/1.1 200' && grep -q '<title>Tevrin' "$SCRATCH/browser.out" ||
  fail "the browser found no site after the tool ended: $(head -c 300 "$SCRATCH/browser.out" 2>/dev/null)"
pass "the site link's page opens in the browser after the tool has ended ($(grep -o 'http://[^ ]*' "$SCRATCH/link.out"))"

# 4. Addresses of the user's own start nothing: a closed chart address fails
# the scan, a closed maker's site keeps the banner pane hidden.
stop_servers
CLOSED="http://127.0.0.1:$(closed_port)"
STATUS=0
as "$USER_A" TEVRIN_CHART_URL="$CLOSED" timeout 60 "$BIN/tevrin-cli" scan 5 --lang rus >/dev/null 2>&1 || STATUS=$?
[ "$STATUS" -eq 2 ] || fail "a scan of a closed address: status $STATUS"
STATUS=0
as "$USER_B" TEVRIN_PROBE_BANNER=1 TEVRIN_CHART_URL="$CLOSED" TEVRIN_SITE_URL="$CLOSED" "${window_env[@]}" \
  timeout 120 "$BIN/tevrin" >"$SCRATCH/closed.out" 2>&1 || STATUS=$?
[ "$STATUS" -eq 5 ] && grep -q "^tevrin: banner page failed: $CLOSED/reklama.html (pane hidden)" "$SCRATCH/closed.out" ||
  fail "the banner of a closed site: status $STATUS $(grep 'tevrin:' "$SCRATCH/closed.out" || true)"
[ -z "$(servers)" ] || fail "a server was started for the user's own addresses: $(servers)"
pass "TEVRIN_CHART_URL and TEVRIN_SITE_URL at a closed port: the scan fails, the banner pane stays hidden, nothing is started"

echo "bundled site check: $PASSED passed"
