#!/usr/bin/env bash
# Starts the real console under Xvfb with the accessibility bus on, inside its own D-Bus
# session, and runs the operator walkthrough against it.
# Usage: run-walkthrough.sh PELMORA PELMORA-CLI SOURCE-DIR
set -euo pipefail
pelmora=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
cli=$(cd "$(dirname "$2")" && pwd)/$(basename "$2")
source_dir=$(cd "$3" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d /tmp/pelmora-walk.XXXXXX)
trap 'rm -rf "$work"' EXIT
# The demo head-end, whose server the walkthrough builds from the console, made as a newcomer
# makes it (with a generated clip for every film: "Create files" reads every film it schedules).
"$cli" demo "$work/demo" >/dev/null
export HOME="$work/home" XDG_DATA_HOME="$work/home/.local/share" XDG_CONFIG_HOME="$work/home/.config"
mkdir -p "$HOME"
export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 QT_ACCESSIBILITY=1 NO_AT_BRIDGE=0
unset QT_QPA_PLATFORM
exec xvfb-run -a -s "-screen 0 1600x1000x24" dbus-run-session -- bash -c '
  /usr/libexec/at-spi-bus-launcher --launch-immediately &
  launcher=$!
  sleep 1
  cd "$0"
  "$1" >"$0/console.log" 2>&1 &
  console=$!
  rc=0
  timeout 900 /usr/bin/python3 "$2/walkthrough.py" "$0" "$3" "$0/demo/demo.pq2pr" || rc=$?
  kill -TERM $console 2>/dev/null || true
  wait $console 2>/dev/null || true
  kill $launcher 2>/dev/null || true
  [ $rc -eq 0 ] || { echo "--- console output"; cat "$0/console.log"; }
  exit $rc
' "$work" "$pelmora" "$here" "$cli"
