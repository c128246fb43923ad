#!/usr/bin/env bash
# Packaging check (CI, after the tests): builds the .deb with tools/package.sh
# (in its own Release tree), unpacks it into a scratch root and runs what it installs as an
# unprivileged user whose home is a scratch folder, against the bundled chart
# server: the menu entry and the metainfo validate, lintian finds no error or
# warning, a scan works and its saved table lands in the user's data folder,
# the watch runs and its systemd units verify, and the window loads the banner
# module from the unpacked tree. Then the package's fields and scripts, the man
# page against --help, the chart server's systemd units (systemd-socket-activate
# standing in for systemd), and, as root in a private network, the bundled site
# on its default address without systemd (tools/bundled-site-check.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
DEB=$(SKIP_INSTALL=1 bash tools/package.sh | tail -n 1)

SCRATCH=$(mktemp -d)
SERVER=""
cleanup() {
  if [ -n "$SERVER" ]; then kill "$SERVER" 2>/dev/null || true; fi
  chmod -R u+w "$SCRATCH" 2>/dev/null || true
  rm -rf "$SCRATCH"
}
trap cleanup EXIT
chmod 755 "$SCRATCH"
ROOT="$SCRATCH/root"
USER_HOME="$SCRATCH/home"
mkdir -p "$USER_HOME"
dpkg-deb -x "$DEB" "$ROOT"
# The program's folder is not the user's to write, as /usr/bin is not.
chmod a-w "$ROOT/usr/bin"
PASSED=0
pass() { echo "ok: $*"; PASSED=$((PASSED + 1)); }
fail() { echo "FAILED: $*" >&2; echo "package check: $PASSED passed, 1 failed"; exit 1; }

desktop-file-validate "$ROOT"/usr/share/applications/*.desktop || fail "desktop entry"
pass "desktop entry validates"
appstreamcli validate --no-net "$ROOT"/usr/share/metainfo/*.metainfo.xml || fail "metainfo"
pass "metainfo validates"
LINT=0
lintian --fail-on error,warning "$DEB" >"$SCRATCH/lintian.log" 2>&1 || LINT=$?
grep -v 'root privileges' "$SCRATCH/lintian.log" || true
[ "$LINT" -eq 0 ] || fail "lintian reports errors or warnings"
pass "lintian: no error or warning"

# Everything below runs as nobody, who may not write into the unpacked tree,
# as a user may not write into /usr/bin.
if [ "$(id -u)" -eq 0 ]; then
  RUN_AS=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
  WHO=nobody
  chown nobody:nogroup "$USER_HOME"
else
  RUN_AS=()  # already unprivileged
  WHO=$(id -un)
fi
as_user() {
  "${RUN_AS[@]}" env -i HOME="$USER_HOME" PATH=/usr/bin:/bin LANG=C.UTF-8 "$@"
}
DATA="$USER_HOME/.local/share/Tevrin"
# The address a chart server started on port 0 reports in its log, once it does.
listening_on() {
  for _ in $(seq 100); do
    grep -q '^listening on ' "$1" && break
    sleep 0.1
  done
  sed -n 's/^listening on //p' "$1"
}

# The bundled chart server on a free loopback port, serving its installed site.
# (Started without a function around it, so that $! is the server itself.)
"${RUN_AS[@]}" env -i HOME="$USER_HOME" PATH=/usr/bin:/bin "$ROOT/usr/bin/tevrin-chart-server" --port 0 \
  >"$SCRATCH/server.log" 2>&1 &
SERVER=$!
URL=$(listening_on "$SCRATCH/server.log")
[ -n "$URL" ] || fail "chart server did not start: $(cat "$SCRATCH/server.log")"
pass "chart server serves the installed site on $URL"

OUT=$(as_user TEVRIN_CHART_URL="$URL" timeout 60 "$ROOT/usr/bin/tevrin-cli" scan 5 --lang rus --save) ||
  fail "tevrin-cli scan"
ROWS=$(printf '%s\n' "$OUT" | grep -c .)  # piped: one tab-separated line a channel
[ "$ROWS" -gt 0 ] || fail "the scan found no channel"
REC="$DATA/Base/Hot Bird 13.0°E.rec"
[ -f "$REC" ] || fail "no saved table at $REC"
[ "$(stat -c %s "$REC")" -eq $((ROWS * 476)) ] || fail "saved table does not hold the $ROWS rows"
grep -q '"format":"tevrin-full-texts"' "$REC.json" || fail "no full texts beside the saved table"
[ ! -e "$ROOT/usr/bin/Base" ] && [ ! -e "$ROOT/usr/bin/cache.txt" ] || fail "files written beside the binary"
pass "tevrin-cli scans $ROWS channels as $WHO and saves them into $DATA"

# The watch: two runs over one watched satellite, the second finding no change;
# no session bus here, so nothing is notified and nothing fails for it.
as_user TEVRIN_CHART_URL="$URL" timeout 60 "$ROOT/usr/bin/tevrin-cli" watch --add 5 >/dev/null ||
  fail "tevrin-cli watch --add"
[ "$(as_user "$ROOT/usr/bin/tevrin-cli" watch --list)" = "5	Hot Bird 13.0°E" ] || fail "watch list"
STATUS=0
as_user TEVRIN_CHART_URL="$URL" timeout 60 "$ROOT/usr/bin/tevrin-cli" watch --notify >/dev/null || STATUS=$?
[ "$STATUS" -eq 0 ] || fail "watch over an unchanged chart: status $STATUS"
as_user timeout 60 "$ROOT/usr/bin/tevrin-cli" changes >/dev/null || fail "tevrin-cli changes"
pass "tevrin-cli watch keeps its list in $DATA/MyIni.ini and finds no change in an unchanged chart"

# The watch's systemd user units: shipped, enabled by nobody but the user, and
# sound to systemd. systemd-analyze insists that ExecStart's program exists, so
# it verifies a copy whose program is the unpacked one.
UNITS="$ROOT/usr/lib/systemd/user"
grep -qx 'ExecStart=/usr/bin/tevrin-cli watch --notify' "$UNITS/tevrin-watch.service" ||
  fail "tevrin-watch.service does not run /usr/bin/tevrin-cli watch --notify"
[ -z "$(find "$ROOT" -name '*.wants' -o -path '*/etc/systemd/*')" ] || fail "the package enables a unit"
mkdir "$SCRATCH/units" "$SCRATCH/runtime"
sed "s|=/usr/bin/|=$ROOT/usr/bin/|" "$UNITS/tevrin-watch.service" >"$SCRATCH/units/tevrin-watch.service"
cp "$UNITS/tevrin-watch.timer" "$SCRATCH/units/"
XDG_RUNTIME_DIR="$SCRATCH/runtime" systemd-analyze --user --man=no verify \
  "$SCRATCH/units/tevrin-watch.service" "$SCRATCH/units/tevrin-watch.timer" >"$SCRATCH/units.log" 2>&1 ||
  fail "systemd-analyze verify: $(cat "$SCRATCH/units.log")"
[ ! -s "$SCRATCH/units.log" ] || fail "systemd-analyze verify warns: $(cat "$SCRATCH/units.log")"
pass "tevrin-watch.service and tevrin-watch.timer pass systemd-analyze verify, enabled by no one"

# The window, offscreen: the first banner navigation loads the module from the
# unpacked private library folder; closing writes MyIni.ini to the data folder.
as_user TEVRIN_PROBE_BANNER=1 TEVRIN_CHART_URL="$URL" TEVRIN_SITE_URL="$URL" QT_QPA_PLATFORM=offscreen \
  QTWEBENGINE_DISABLE_SANDBOX=1 QTWEBENGINE_CHROMIUM_FLAGS="--disable-gpu --no-sandbox" \
  timeout 120 "$ROOT/usr/bin/tevrin" 2>"$SCRATCH/window.log" ||
  fail "window: status $? ($(grep 'tevrin:' "$SCRATCH/window.log" || true))"
grep -q "^tevrin: banner module: $ROOT/usr/lib/.*/tevrin/libtevrin_webbanner.so$" "$SCRATCH/window.log" ||
  fail "banner module not loaded from the package: $(grep 'tevrin:' "$SCRATCH/window.log" || true)"
grep -q "^tevrin: banner page loaded: $URL/reklama.html" "$SCRATCH/window.log" || fail "banner page"
[ -s "$DATA/MyIni.ini" ] || fail "no MyIni.ini in $DATA"
grep 'tevrin:' "$SCRATCH/window.log"
pass "the window loads the banner module from the package and keeps MyIni.ini in $DATA"
[ "$(as_user "$ROOT/usr/bin/tevrin-cli" watch --list)" = "5	Hot Bird 13.0°E" ] ||
  fail "the window's MyIni.ini lost the watch list"
pass "the window keeps the watch list in MyIni.ini"

kill "$SERVER"
SERVER=""

# The fields and scripts: the fonts the layout was measured with, the Wayland
# platform recommended, no ldconfig (the one library is a private module), no
# postrm (which would keep a removed package in dpkg's config-files state).
CONTROL="$SCRATCH/control"
dpkg-deb -e "$DEB" "$CONTROL"
dpkg-deb -f "$DEB" Depends | grep -qw 'fonts-liberation2' || fail "Depends lacks fonts-liberation2"
dpkg-deb -f "$DEB" Recommends | grep -qw 'qt6-wayland' || fail "Recommends lacks qt6-wayland"
[ ! -e "$CONTROL/postrm" ] || fail "the package has a postrm"
! grep -l 'ldconfig' "$CONTROL"/*inst "$CONTROL"/*rm 2>/dev/null || fail "a maintainer script calls ldconfig"
[ -x "$CONTROL/postinst" ] && [ -x "$CONTROL/prerm" ] || fail "the socket's maintainer scripts are missing"
pass "Depends: fonts-liberation2, Recommends: qt6-wayland, no postrm, no ldconfig"

# Every option and command --help names is in the man page.
MAN_TEXT=$(zcat "$ROOT/usr/share/man/man1/tevrin-cli.1.gz" | sed 's/\\-/-/g')
HELP=$(as_user "$ROOT/usr/bin/tevrin-cli" --help)
for word in $(printf '%s\n' "$HELP" | grep -o -- '--[a-z][a-z-]*' | sort -u) list scan show; do
  grep -q -- "$word" <<<"$MAN_TEXT" || fail "man tevrin-cli does not document $word"
done
pass "man tevrin-cli documents every option of --help"

# The systemd units: valid, and the socket is the tools' default address.
UNITS="$SCRATCH/units"
mkdir -p "$UNITS"
cp "$ROOT"/usr/lib/systemd/system/tevrin-chart-server.* "$UNITS/" || fail "no systemd units"
EXEC=$(sed -n 's/^ExecStart=//p' "$UNITS/tevrin-chart-server.service")
ADDRESS=$(sed -n 's/^ListenStream=//p' "$UNITS/tevrin-chart-server.socket")
[ "$ADDRESS" = "127.0.0.1:8399" ] || fail "the socket listens on $ADDRESS"
[ "$(grep -l "$ADDRESS" "$ROOT/usr/bin/tevrin-cli")" ] || fail "tevrin-cli does not default to $ADDRESS"
sed -i "s|^ExecStart=/|ExecStart=$ROOT/|" "$UNITS/tevrin-chart-server.service"
VERIFY=$(systemd-analyze verify --man=no "$UNITS"/tevrin-chart-server.socket "$UNITS"/tevrin-chart-server.service 2>&1) ||
  fail "systemd-analyze: $VERIFY"
[ -z "$VERIFY" ] || fail "systemd-analyze: $VERIFY"
# systemd-socket-activate stands in for systemd: it holds a port and starts
# the unit's command with the first connection, which serves that socket.
# A free port: one the server is given by the system, and then gives up.
"$ROOT/usr/bin/tevrin-chart-server" --port 0 >"$SCRATCH/free.log" 2>&1 &
FREE=$!
ACTIVATED_PORT=$(listening_on "$SCRATCH/free.log" | sed 's/^http:\/\/127.0.0.1://')
kill "$FREE"
wait "$FREE" 2>/dev/null || true
"${RUN_AS[@]}" env -i HOME="$USER_HOME" PATH=/usr/bin:/bin systemd-socket-activate -l "127.0.0.1:$ACTIVATED_PORT" \
  $ROOT$EXEC >"$SCRATCH/activated.log" 2>&1 &
SERVER=$!
OUT=""
for _ in $(seq 50); do
  OUT=$(as_user TEVRIN_CHART_URL="http://127.0.0.1:$ACTIVATED_PORT" timeout 60 "$ROOT/usr/bin/tevrin-cli" scan 5 \
    --lang rus 2>/dev/null) && break
  sleep 0.1
done
[ "$(printf '%s\n' "$OUT" | grep -c .)" -eq "$ROWS" ] || fail "no scan through the activated socket: $(cat "$SCRATCH/activated.log")"
kill "$SERVER"
SERVER=""
pass "the units verify; started for its socket, the server ($EXEC) serves the scan"

# The default address without systemd, in a network and /tmp of its own.
if [ "$(id -u)" -eq 0 ]; then
  SITE_CHECK="$SCRATCH/site-check"
  mkdir -p "$SITE_CHECK"
  # Run from the scratch folder: a checkout under /tmp is hidden by the private /tmp.
  cp tools/bundled-site-check.sh "$SCRATCH/bundled-site-check.sh"
  bwrap --dev-bind / / --proc /proc --perms 1777 --tmpfs /tmp --bind "$SCRATCH" "$SCRATCH" --chdir "$SCRATCH" \
    --unshare-net --unshare-pid --die-with-parent bash "$SCRATCH/bundled-site-check.sh" "$ROOT" "$SITE_CHECK" \
    nobody daemon ||
    fail "the bundled site without systemd"
  pass "the bundled site without systemd (above)"
else
  echo "note: the bundled site on its default address is checked as root only (two users, a private network)"
fi

echo "package check: $PASSED passed, 0 failed"
