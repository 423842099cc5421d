#!/bin/sh
# SPDX-License-Identifier: AGPL-3.0-or-later
# Runs a command on a Wayland session of its own: a headless sway with one 1280x1024 output,
# no X server beside it. Every window floats, as on a desktop, so a dialog keeps its own size.
# sway refuses to run as root: then it runs as nobody, in a runtime folder that nobody owns, and
# the command reaches it by the full paths of its sockets.
set -eu
runtime=$(mktemp -d "${TMPDIR:-/tmp}/pagemint-wayland.XXXXXX")
as_user=""
if [ "$(id -u)" -eq 0 ]; then
    chown nobody "$runtime"
    as_user="setpriv --reuid=nobody --regid=$(id -g nobody) --clear-groups"
fi
cat >"$runtime/config" <<'CONFIG'
output HEADLESS-1 resolution 1280x1024 position 0 0
xwayland disable
focus_follows_mouse no
for_window [title=".*"] floating enable
CONFIG
HOME=$runtime XDG_RUNTIME_DIR=$runtime WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 \
    WLR_RENDERER=pixman $as_user sway -c "$runtime/config" >"$runtime/sway.log" 2>&1 &
compositor=$!
keyboard=""
cleanup() {
    if [ -n "$keyboard" ]; then kill "$keyboard" 2>/dev/null || true; fi
    kill "$compositor" 2>/dev/null || true
    wait "$compositor" 2>/dev/null || true
    rm -rf "$runtime"
}
trap cleanup EXIT

# The compositor is ready once its IPC answers.
tries=0
until SWAYSOCK=$(ls "$runtime"/sway-ipc.*.sock 2>/dev/null) && [ -n "$SWAYSOCK" ] &&
    SWAYSOCK=$SWAYSOCK swaymsg -t get_outputs >/dev/null 2>&1; do
    tries=$((tries + 1))
    if [ "$tries" -gt 600 ] || ! kill -0 "$compositor" 2>/dev/null; then
        echo "sway did not start:" >&2
        cat "$runtime/sway.log" >&2
        exit 1
    fi
    sleep 0.05
done
export SWAYSOCK
WAYLAND_DISPLAY=$(ls "$runtime"/wayland-[0-9] | head -n 1)
export WAYLAND_DISPLAY
# A client sees a keyboard only while the seat has one, and is told which window has the focus
# only when it already holds the keyboard. One virtual keyboard that lasts the whole session
# gives the seat a keyboard from the start, as a real one does; the keys come from others.
wtype -s 3600000 &
keyboard=$!
export QT_QPA_PLATFORM=wayland
unset DISPLAY
status=0
"$@" || status=$?
exit "$status"
