#!/bin/sh
# SPDX-License-Identifier: AGPL-3.0-or-later
# Runs a command on a desktop of its own: a new X server (Xvfb, on a free display number) with
# the openbox window manager, or with PAGEMINT_TEST_DESKTOP=wayland a Wayland session
# (run_on_wayland.sh). Listing the tests of a test program needs no desktop.
set -eu
case " $* " in
*" --gtest_list_tests "*) exec "$@" ;;
esac
if [ "${PAGEMINT_TEST_DESKTOP:-}" = wayland ]; then
    exec sh "$(dirname "$0")/run_on_wayland.sh" "$@"
fi
# Tests run side by side: each starts its search for a free display number at a place of its
# own, so two servers starting at once do not take the same number.
exec xvfb-run -a -n $((100 + $$ % 30000)) -s "-screen 0 1280x1024x24 -nolisten tcp" sh -c '
openbox --sm-disable >/dev/null 2>&1 &
wm=$!
# The window manager is ready once it has announced itself on the root window.
tries=0
until xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id"; do
  tries=$((tries + 1))
  if [ "$tries" -gt 600 ] || ! kill -0 "$wm" 2>/dev/null; then
    echo "openbox did not start" >&2
    exit 1
  fi
  sleep 0.05
done
status=0
"$@" || status=$?
kill "$wm" 2>/dev/null || true
exit "$status"
' run_on_desktop "$@"
