#!/usr/bin/env bash
# A dock matches a window to its launcher by the window's class: the build
# window's WM_CLASS must be the desktop entry's StartupWMClass (or, without
# one, the entry's name). Runs the program on a virtual X display.
# usage: window_class_test.sh PROGRAM DESKTOP_FILE
set -euo pipefail
program=$1 desktop=$2
command -v xvfb-run >/dev/null && command -v xprop >/dev/null || {
  echo "xvfb-run or xprop missing: skipped"
  exit 77
}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

wanted=$(sed -n 's/^StartupWMClass=//p' "$desktop")
[ -n "$wanted" ] || wanted=$(basename "$desktop" .desktop)

# The program's own settings and lock in the test's folder, on X11 whatever
# the tests' platform; the window's classes are read once it is mapped, then
# the program is ended.
cat >"$work/run.sh" <<SCRIPT
export XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work/run" QT_QPA_PLATFORM=xcb
mkdir -p -m 700 "$work/run"
"$program" & pid=\$!
for _ in \$(seq 100); do
  ids=\$(xwininfo -root -children | awk '/ "Tomebox!/ {print \$1}')
  [ -n "\$ids" ] && break
  sleep 0.1
done
for id in \$ids; do xprop -id "\$id" WM_CLASS; done
kill \$pid
SCRIPT
classes=$(xvfb-run -a bash "$work/run.sh" 2>/dev/null | sed -n 's/^WM_CLASS(STRING) = //p')
[ -n "$classes" ] || { echo "FAIL: no window of the program appeared"; exit 1; }
# WM_CLASS is "instance", "class"; a dock compares the class.
while read -r line; do
  class=$(sed 's/^"[^"]*", "\([^"]*\)"$/\1/' <<<"$line")
  [ "$class" = "$wanted" ] || { echo "FAIL: window class '$class' is not '$wanted'"; exit 1; }
done <<<"$classes"
echo "the window class is the desktop entry's $wanted"
