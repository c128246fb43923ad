#!/bin/bash
# The new user's part of tools/fresh-install-check.sh, run as root inside the
# fresh root with a network and process space of its own; it acts as USER on
# X display DISPLAY (the host's) and reports into /check-out.
#   fresh-install-session.sh USER DISPLAY
set -u
USER_NAME=$1
DISPLAY_VALUE=$2
OUT=/check-out
as_user() {
  setpriv --reuid="$USER_NAME" --regid="$(id -g "$USER_NAME")" --init-groups \
    env -i HOME="/home/$USER_NAME" USER="$USER_NAME" LOGNAME="$USER_NAME" SHELL=/bin/bash \
    PATH=/usr/local/bin:/usr/bin:/bin LANG=C.UTF-8 "$@"
}
# The processes of this session's own process space, but for this script,
# the sandbox's first process and the listing itself.
processes() {
  local pid command
  for pid in /proc/[0-9]*; do
    command=$(tr '\0' ' ' <"$pid/cmdline" 2>/dev/null)
    case "${pid#/proc/}:$command" in
      "$$:"* | "$BASHPID:"* | 1:* | *: | *:"tr "* | *:"awk "* | *:"sed "*) continue ;;
    esac
    echo "${pid#/proc/} $(stat -c %U "$pid") $command"
  done
}
servers() { processes | awk '$3 ~ /tevrin-chart-server$/'; }
DATA="/home/$USER_NAME/.local/share/Tevrin"

# The command line, with nothing on the chart site's port yet.
{
  verdict=ok
  echo "chart servers before: $(servers | grep -c .)"
  out=$(as_user timeout 60 tevrin-cli scan 5 --lang rus)
  status=$?
  rows=$(printf '%s\n' "$out" | grep -c .)
  echo "tevrin-cli scan 5 --lang rus: status $status, $rows rows"
  [ "$status" -eq 0 ] && [ "$rows" -eq 16 ] || verdict=failed
  echo "chart servers after: $(servers | cut -d' ' -f2- | paste -sd';')"
  out=$(as_user timeout 180 tevrin-cli scan --all --lang rus --save)
  status=$?
  echo "tevrin-cli scan --all --lang rus --save: status $status, $(printf '%s\n' "$out" | grep -c ' ok$') satellites ok,"\
    "$(ls "$DATA/Base" 2>/dev/null | grep -c '\.rec$') tables saved in $DATA/Base"
  printf '%s\n' "$out" | grep 'Hot Bird'
  [ "$status" -eq 0 ] && [ "$(ls "$DATA/Base" | grep -c '\.rec$')" -eq 18 ] || verdict=failed
  [ "$(stat -c %s "$DATA/Base/Hot Bird 13.0°E.rec")" -eq $((16 * 476)) ] || verdict=failed
} >"$OUT/cli.report" 2>&1
echo "$verdict" >"$OUT/cli.done"

# The window as the menu starts it: the entry's Exec without its field codes.
EXEC=$(sed -n 's/^Exec=//p' /usr/share/applications/org.tevrin.tevrin.desktop | sed 's/ *%[a-zA-Z]//g')
as_user DISPLAY="$DISPLAY_VALUE" TEVRIN_PROBE_TEXTS=1 timeout 600 $EXEC 2>"$OUT/window.log"
echo $? >"$OUT/window.status"
as_user DISPLAY="$DISPLAY_VALUE" TEVRIN_CHART_URL=http://127.0.0.1:9 timeout 600 $EXEC 2>"$OUT/window2.log"
echo $? >"$OUT/window2.status"

processes | sed 's/^/running at the end: /' >"$OUT/processes"
