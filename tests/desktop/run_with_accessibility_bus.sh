#!/bin/sh
# SPDX-License-Identifier: AGPL-3.0-or-later
# Runs a command on a desktop of its own (run_on_desktop.sh) inside a session bus of its own,
# where the accessibility bus and its registry start on demand, as under a screen reader.
set -eu
case " $* " in
*" --gtest_list_tests "*) exec "$@" ;;
esac
exec dbus-run-session -- "$(dirname "$0")/run_on_desktop.sh" "$@"
