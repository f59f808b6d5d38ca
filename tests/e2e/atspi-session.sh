#!/usr/bin/env bash
# Runs a command with an accessibility bus of its own, on the X display it is given ($DISPLAY):
#   tests/e2e/atspi-session.sh COMMAND [ARGS...]
# A private D-Bus session bus, the AT-SPI bus and registry on it, and what Qt 5 programs started under it need to
# show their widgets there (tests/e2e/atspi.py reads them). All of it ends with the command, whose status it returns.
set -euo pipefail

[ -n "${DISPLAY:-}" ] || { echo "atspi-session: no X display (DISPLAY is unset)" >&2; exit 1; }
[ $# -gt 0 ] || { echo "usage: atspi-session.sh COMMAND [ARGS...]" >&2; exit 2; }
LAUNCHER=/usr/libexec/at-spi-bus-launcher
[ -x "$LAUNCHER" ] || { echo "atspi-session: $LAUNCHER is missing (Debian package at-spi2-core)" >&2; exit 1; }
command -v dbus-daemon >/dev/null || { echo "atspi-session: dbus-daemon is missing" >&2; exit 1; }

# The AT-SPI bus's socket goes to $XDG_RUNTIME_DIR/at-spi under a fixed name: a folder of its own keeps two
# sessions (tests run side by side) apart.
dir=$(mktemp -d /tmp/tavi-atspi.XXXXXX)
chmod 700 "$dir"
bus_pid=
launcher_pid=
# shellcheck disable=SC2317 # run by the trap
cleanup() {
  # The launcher ends its bus and the registry with it.
  if [ -n "$launcher_pid" ]; then kill "$launcher_pid" 2>/dev/null || true; fi
  if [ -n "$bus_pid" ]; then kill "$bus_pid" 2>/dev/null || true; fi
  rm -rf "$dir"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

wait_for() { # tries a command for up to 10 s
  for _ in $(seq 100); do "$@" >/dev/null 2>&1 && return 0; sleep 0.1; done
  return 1
}

# Not --fork: a daemon of its own session would outlive a wrapper that ctest kills at its time-out.
dbus-daemon --session --nofork --nopidfile --print-address=3 3>"$dir/address" >"$dir/dbus.log" 2>&1 &
bus_pid=$!
wait_for test -s "$dir/address" || { echo "atspi-session: the session bus did not start" >&2; exit 1; }
DBUS_SESSION_BUS_ADDRESS=$(head -n 1 "$dir/address")
export DBUS_SESSION_BUS_ADDRESS

# Started here rather than on a program's first request, so that everything is up before the command starts.
# --a11y=1 sets the session's switch (org.a11y.Status IsEnabled) that toolkits read at their start.
XDG_RUNTIME_DIR=$dir "$LAUNCHER" --launch-immediately --a11y=1 >"$dir/launcher.log" 2>&1 &
launcher_pid=$!
wait_for dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus org.a11y.Bus.GetAddress ||
  { echo "atspi-session: the AT-SPI bus did not come up" >&2; exit 1; }
a11y=$(dbus-send --session --print-reply=literal --dest=org.a11y.Bus /org/a11y/bus org.a11y.Bus.GetAddress | tr -d ' ')
# Asking the registry starts it; programs register with it once it answers.
wait_for dbus-send --bus="$a11y" --print-reply --dest=org.a11y.atspi.Registry /org/a11y/atspi/accessible/root \
  org.freedesktop.DBus.Properties.Get string:org.a11y.atspi.Accessible string:ChildCount ||
  { echo "atspi-session: the AT-SPI registry did not come up" >&2; exit 1; }

# Qt 5 reads these once, at its start.
export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 QT_ACCESSIBILITY=1
# Not exec: the buses end after the command.
set +e
"$@"
exit $?
