#!/usr/bin/env bash
# Fresh-root check (CI, after the packaging check): the package on a minimal
# Debian 12, as a newcomer meets it.
#  1. mmdebstrap makes a minimal bookworm root (--variant=apt) from this
#     machine's own apt sources; apt installs the built package there.
#  2. A new user, in a network of the root's own (so the default port is the
#     check's alone) and with no chart server started by hand, scans with
#     tevrin-cli: Hot Bird, then all 18 satellites with --save.
#  3. The window, started from its menu entry's Exec on an X server of the
#     host with a window manager, shows every caption whole (its own font
#     metrics, TEVRIN_PROBE_TEXTS), scans Hot Bird through its controls and
#     exports the table; then, with the chart address at a closed port, its
#     download error box is followed by the tool's end.
#  4. apt removes the package, and what is left of it is listed.
# Needs root, the package registry and a few minutes.
#   tools/fresh-install-check.sh [DEB]
# FRESH_DISPLAY=N uses X display :N (default: the first free one);
# FRESH_SHOTS=DIR keeps the screenshots there (needs ImageMagick's import);
# FRESH_BASE=DIR starts from a copy of a root mmdebstrap made before, for
# repeated runs by hand.
set -euo pipefail
cd "$(dirname "$0")/.."
START=$(date +%s)
PASSED=0
pass() { echo "ok: $*"; PASSED=$((PASSED + 1)); }
fail() {
  echo "FAILED: $*" >&2
  echo "fresh-install check: $PASSED passed, 1 failed"
  exit 1
}
[ "$(id -u)" -eq 0 ] || fail "the fresh-install check needs root (mmdebstrap, bwrap)"
for tool in mmdebstrap bwrap Xvfb openbox xdotool wmctrl; do
  command -v "$tool" >/dev/null || fail "$tool is missing: run tools/install-deps.sh"
done
DEB=$(realpath "${1:-$(SKIP_INSTALL=1 bash tools/package.sh | tail -n 1)}")
SESSION_SCRIPT=$(realpath tools/fresh-install-session.sh)

WORK=$(mktemp -d /var/tmp/tevrin-fresh.XXXXXX)
ROOT="$WORK/root"
OUT="$WORK/out"  # the session's reports, seen as /check-out inside
mkdir -p "$OUT"
chmod 777 "$OUT"
XVFB=""
WM=""
cleanup() {
  for pid in $WM $XVFB; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$WORK"
}
trap cleanup EXIT

# --- 1. The root and the install ------------------------------------------
# This machine's Debian sources for bookworm, in both formats; nothing else.
: >"$WORK/host.sources"
: >"$WORK/host.list"
for file in /etc/apt/sources.list.d/*.sources; do
  [ -f "$file" ] || continue
  awk 'BEGIN { RS = ""; ORS = "\n\n" }
       {
         keep = 0; enabled = 1
         n = split($0, lines, "\n")
         for (i = 1; i <= n; i++) {
           if (lines[i] ~ /^Suites:/) {
             m = split(substr(lines[i], 8), suites, " "); keep = m > 0
             for (j = 1; j <= m; j++) if (suites[j] !~ /^bookworm(-[a-z]+)?$/) keep = 0
           }
           if (lines[i] ~ /^Enabled:[ \t]*no/) enabled = 0
         }
         if (keep && enabled) print
       }' "$file" >>"$WORK/host.sources"
done
for file in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
  [ -f "$file" ] || continue
  awk '$1 == "deb" { suite = ($2 ~ /^\[/) ? $4 : $3; if (suite ~ /^bookworm(-[a-z]+)?$/) print }' "$file" \
    >>"$WORK/host.list"
done
SOURCES=()
[ -s "$WORK/host.sources" ] && SOURCES+=("$WORK/host.sources")
[ -s "$WORK/host.list" ] && SOURCES+=("$WORK/host.list")
[ ${#SOURCES[@]} -gt 0 ] || fail "this machine has no apt source for bookworm"
if [ -n "${FRESH_BASE:-}" ]; then
  cp -a "$FRESH_BASE" "$ROOT"
else
  mmdebstrap --quiet --variant=apt --mode=root --format=directory --dpkgopt=force-unsafe-io \
    bookworm "$ROOT" "${SOURCES[@]}" >"$WORK/mmdebstrap.log" 2>&1 || fail "mmdebstrap: $(tail -5 "$WORK/mmdebstrap.log")"
fi
pass "a minimal bookworm root ($(du -sm "$ROOT" | cut -f1) MB) from this machine's sources: $(grep -h '^URIs:\|^deb ' "${SOURCES[@]}" | paste -sd' ')"

mkdir -p "$WORK/pkg"
cp "$DEB" "$WORK/pkg/"
# The root's own system, with its own /dev, /proc and /tmp; the host's resolver.
in_root() {
  bwrap --bind "$ROOT" / --dev /dev --perms 1777 --tmpfs /dev/shm --proc /proc --perms 1777 --tmpfs /tmp --ro-bind /etc/resolv.conf /etc/resolv.conf \
    --bind "$WORK/pkg" /pkg --unshare-pid --die-with-parent "$@"
}
in_root env DEBIAN_FRONTEND=noninteractive sh -c \
  "apt-get update -qq && apt-get install -y -o Dpkg::Options::=--force-unsafe-io /pkg/$(basename "$DEB")" \
  >"$WORK/apt-install.log" 2>&1 || fail "apt-get install: $(tail -5 "$WORK/apt-install.log")"
in_root dpkg -L tevrin >"$WORK/package-files"
in_root dpkg-query -W -f='${Status}' tevrin | grep -q 'install ok installed' || fail "tevrin is not installed"
pass "apt installed the package: $(grep -E 'newly installed' "$WORK/apt-install.log"); $(grep -E '^Need to get' "$WORK/apt-install.log")"
[ -L "$ROOT/etc/systemd/system/sockets.target.wants/tevrin-chart-server.socket" ] ||
  fail "the chart site's socket is not enabled"
pass "the chart site's socket is enabled for the machine (where systemd runs it listens at once and from every boot)"
in_root useradd --create-home --shell /bin/bash tester || fail "useradd"

# --- 2 and 3. The new user's session ---------------------------------------
# The host's X server with a window manager; the session reaches it through
# the socket file, as its network is its own.
XARGS=(-screen 0 1280x1024x24 -nolisten tcp)
if [ -n "${FRESH_DISPLAY:-}" ]; then
  Xvfb ":$FRESH_DISPLAY" "${XARGS[@]}" >/dev/null 2>&1 &
  XVFB=$!
  DISPLAY_NUMBER=$FRESH_DISPLAY
else
  Xvfb -displayfd 3 "${XARGS[@]}" 3>"$WORK/display" >/dev/null 2>&1 &
  XVFB=$!
  for _ in $(seq 100); do
    [ -s "$WORK/display" ] && break
    sleep 0.1
  done
  DISPLAY_NUMBER=$(cat "$WORK/display")
fi
export DISPLAY=":$DISPLAY_NUMBER"
for _ in $(seq 100); do
  [ -S "/tmp/.X11-unix/X$DISPLAY_NUMBER" ] && xdpyinfo >/dev/null 2>&1 && break
  sleep 0.1
done
openbox --sm-disable >/dev/null 2>&1 &
WM=$!
for _ in $(seq 100); do
  xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
  sleep 0.1
done

bwrap --bind "$ROOT" / --dev /dev --perms 1777 --tmpfs /dev/shm --proc /proc --perms 1777 --tmpfs /tmp --bind /tmp/.X11-unix /tmp/.X11-unix \
  --ro-bind "$SESSION_SCRIPT" /check/session.sh --bind "$OUT" /check-out --unshare-net --unshare-pid \
  --die-with-parent bash /check/session.sh tester "$DISPLAY" >"$WORK/session.log" 2>&1 &
SESSION=$!

wait_for() {  # wait_for SECONDS COMMAND...: true once COMMAND succeeds
  local deadline=$(($(date +%s) + $1))
  shift
  until "$@"; do
    [ "$(date +%s)" -lt "$deadline" ] || return 1
    sleep 0.2
  done
}
session_failed() { fail "$1: $(cat "$WORK/session.log" "$OUT"/*.log 2>/dev/null | grep -v '^  \*' | tail -30)"; }
shot() {
  if [ -n "${FRESH_SHOTS:-}" ] && command -v import >/dev/null; then
    mkdir -p "$FRESH_SHOTS"
    import -window root "$FRESH_SHOTS/$1.png"
    echo "screenshot: $FRESH_SHOTS/$1.png"
  fi
}
main_window() { xdotool search --onlyvisible --name '^Tevrin  v1\.04b$' 2>/dev/null | head -n 1; }
# The tool's other window: a message box, titled by its kind.
box_titled() { xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1; }
has_main_window() { [ -n "$(main_window)" ]; }
has_box() { [ -n "$(box_titled "$1")" ]; }
# Settled: the same place on two looks a second apart.
settled() {
  local a b
  a=$(xdotool getwindowgeometry "$1" 2>/dev/null) || return 1
  sleep 1
  b=$(xdotool getwindowgeometry "$1" 2>/dev/null) || return 1
  [ "$a" = "$b" ]
}
pick_hot_bird() {  # the list's fifth entry, by the mouse wheel over it
  for _ in 1 2 3 4 5; do xdotool mousemove --window "$1" 80 51 click 5; done
}

wait_for 120 test -e "$OUT/cli.done" || session_failed "the command line part did not end"
grep -q '^ok' "$OUT/cli.done" || session_failed "the command line part"
sed 's/^/  /' "$OUT/cli.report"
pass "as a new user, tevrin-cli scans the bundled site as installed, with no server started by hand"

wait_for 90 has_main_window || session_failed "no main window from the menu entry"
WINDOW=$(main_window)
wait_for 30 settled "$WINDOW" || true
wait_for 30 grep -q 'tevrin: text: ' "$OUT/window.log" || session_failed "no captions measured"
sleep 1
grep 'tevrin: text: ' "$OUT/window.log" | sed 's/^/  /'
! grep 'tevrin: text: .*: cut$' "$OUT/window.log" || fail "captions are cut"
pass "no caption of the window is cut ($(grep -c 'tevrin: text: .*: fits$' "$OUT/window.log") measured in its own fonts)"

pick_hot_bird "$WINDOW"
xdotool mousemove --window "$WINDOW" 88 390 click 1
EXPORT="$ROOT/home/tester/.local/share/Tevrin/exsport.csv"
# «Экспорт» is enabled by the end of the scan; pressing it writes the table.
wait_for 60 sh -c "xdotool mousemove --window $WINDOW 292 347 click 1; sleep 1; test -s '$EXPORT'" ||
  session_failed "no export after the scan"
shot fresh-hot-bird
INFO=$(box_titled Information)
[ -n "$INFO" ] && wmctrl -i -c "$INFO"
ROWS=$(grep -c . "$EXPORT")
[ "$ROWS" -eq 16 ] || fail "the window's Hot Bird scan has $ROWS rows, not 16"
wmctrl -i -c "$WINDOW"
wait_for 30 test -e "$OUT/window.status" || session_failed "the window did not end after its close"
[ "$(cat "$OUT/window.status")" = 0 ] || session_failed "the window ended with status $(cat "$OUT/window.status")"
[ -s "$ROOT/home/tester/.local/share/Tevrin/MyIni.ini" ] || fail "no MyIni.ini after the close"
pass "the window from the menu entry scans Hot Bird through its controls: $ROWS rows exported, ends with status 0"

wait_for 90 has_main_window || session_failed "no second window"
WINDOW=$(main_window)
wait_for 30 settled "$WINDOW" || true
pick_hot_bird "$WINDOW"
xdotool mousemove --window "$WINDOW" 88 390 click 1
wait_for 60 has_box Error || session_failed "no download error box"
sleep 2  # the banner's page, if it is to be shown, is on its way now
shot fresh-download-error
wmctrl -i -c "$(box_titled Error)"
wait_for 30 test -e "$OUT/window2.status" || session_failed "the tool did not end after the download error box"
[ "$(cat "$OUT/window2.status")" = 0 ] || session_failed "it ended with status $(cat "$OUT/window2.status")"
pass "with the chart address at a closed port, the download error box is followed by the tool's end"

wait "$SESSION" || session_failed "the session"
sed 's/^/  /' "$OUT/processes"

# --- 4. Removal --------------------------------------------------------------
in_root env DEBIAN_FRONTEND=noninteractive apt-get remove -y tevrin >"$WORK/apt-remove.log" 2>&1 ||
  fail "apt-get remove: $(tail -5 "$WORK/apt-remove.log")"
LEFT=()
STATE=$(in_root dpkg-query -W -f='${db:Status-Abbrev}' tevrin 2>/dev/null || true)
[ -z "$STATE" ] || LEFT+=("dpkg state '$STATE'")
while read -r path; do
  [ -e "$ROOT$path" ] || [ -L "$ROOT$path" ] || continue
  # A folder that is not empty, or that another package owns, stays.
  if [ -d "$ROOT$path" ] && [ ! -L "$ROOT$path" ]; then
    [ -n "$(ls -A "$ROOT$path")" ] && continue
    in_root dpkg-query -S "$path" >/dev/null 2>&1 && continue
  fi
  LEFT+=("$path")
done <"$WORK/package-files"
for path in /etc/systemd/system/sockets.target.wants/tevrin-chart-server.socket \
  /var/lib/systemd/deb-systemd-helper-enabled/tevrin-chart-server.socket.dsh-also \
  /var/lib/systemd/deb-systemd-helper-enabled/sockets.target.wants/tevrin-chart-server.socket; do
  { [ -e "$ROOT$path" ] || [ -L "$ROOT$path" ]; } && LEFT+=("$path")
done
echo "  left of the package after apt-get remove: ${LEFT[*]:-nothing}"
echo "  the user's own files stay: $(cd "$ROOT/home/tester/.local/share" && find Tevrin -maxdepth 1 | sort | paste -sd' ')"
[ ${#LEFT[@]} -eq 0 ] || fail "removal leaves ${LEFT[*]}"
pass "apt-get remove leaves nothing of the package"

echo "fresh-install check: $PASSED passed, 0 failed ($(($(date +%s) - START)) s)"
