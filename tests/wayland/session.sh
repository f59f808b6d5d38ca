#!/usr/bin/env bash
# A headless Wayland desktop for the tests, the way a teacher's GNOME, KDE or
# sway desktop offers screen sharing: sway (one output, software rendering),
# PipeWire, and the desktop portal with its wlroots backend, on a session bus
# of their own. Runs COMMAND in it and ends it after, with COMMAND's status.
#   session.sh COMMAND [ARGS...]
# TAVI_PORTAL_WLR names the backend built by build-portal-wlr.sh (./run
# builds it into build/portal-wlr). COMMAND sees:
#   WAYLAND_DISPLAY, SWAYSOCK    the desktop (swaymsg paints the output)
#   XDG_CONFIG_HOME              a fresh folder (the remembered screen choice)
#   TAVI_WAYLAND_CHOICE          a file the portal's chooser reads: the output
#                                to share ("HEADLESS-1") or "cancel"; while it
#                                is empty the dialog stays open (30 s at most),
#                                and TAVI_WAYLAND_CHOICE.asked exists
#   TAVI_WAYLAND_X11             XWayland's display (TAVI_WAYLAND_XWAYLAND=1)
# or, when the desktop could not be made, only TAVI_WAYLAND_SKIP saying why.
# TAVI_WAYLAND_SIZE sets the output's size (1280x720).
set -u
here=$(cd "$(dirname "$0")" && pwd)
portal_wlr=${TAVI_PORTAL_WLR:-$here/../../build/portal-wlr/xdg-desktop-portal-wlr}
if [ "${1:-}" != --inside ]; then
  for tool in sway swaymsg pipewire wireplumber dbus-run-session /usr/libexec/xdg-desktop-portal "$portal_wlr"; do
    if ! command -v "$tool" >/dev/null; then
      export TAVI_WAYLAND_SKIP="no $tool (./run test installs it)"
      exec "$@"
    fi
  done
  dir=$(mktemp -d "${TMPDIR:-/tmp}/tavi-wayland.XXXXXX")
  chmod 755 "$dir"
  status=0
  TAVI_WAYLAND_DIR=$dir XDG_CURRENT_DESKTOP=sway XDG_SESSION_TYPE=wayland \
    dbus-run-session -- bash "$0" --inside "$@" || status=$?
  rm -rf "$dir"
  exit $status
fi
shift
dir=$TAVI_WAYLAND_DIR
pids=()
trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done; wait' EXIT
# Waits up to 10 s for a condition (a command).
await() { for _ in $(seq 100); do "$@" >/dev/null 2>&1 && return 0; sleep 0.1; done; return 1; }
failed() {
  local why=$1
  shift
  echo "wayland session: $why; log follows" >&2
  tail -n 20 "$dir"/*.log >&2
  export TAVI_WAYLAND_SKIP="$why (see the log above)"
  unset WAYLAND_DISPLAY SWAYSOCK
  "$@"
  exit $?
}

export XDG_RUNTIME_DIR=$dir/runtime XDG_CONFIG_HOME=$dir/config TAVI_WAYLAND_CHOICE=$dir/choice
mkdir -m 700 "$XDG_RUNTIME_DIR" "$XDG_CONFIG_HOME"
pipewire >"$dir/pipewire.log" 2>&1 &
pids+=($!)
wireplumber >"$dir/wireplumber.log" 2>&1 &
pids+=($!)

# sway refuses to run as root: there it runs as a user of its own.
sway_user=()
mkdir -m 700 "$dir/sway-runtime" "$dir/home"
if [ "$(id -u)" = 0 ]; then
  id tavi-wayland >/dev/null 2>&1 || useradd -r -M -d /nonexistent -s /usr/sbin/nologin tavi-wayland
  chown tavi-wayland: "$dir/sway-runtime" "$dir/home"
  sway_user=(setpriv --reuid=tavi-wayland --regid=tavi-wayland --init-groups)
fi
xwayland=disable
[ "${TAVI_WAYLAND_XWAYLAND:-}" = 1 ] && xwayland=force
cat >"$dir/sway.conf" <<CONF
xwayland $xwayland
output HEADLESS-1 resolution ${TAVI_WAYLAND_SIZE:-1280x720} position 0,0 bg #000000 solid_color
default_border none
# Windows float where they place themselves, as on GNOME's or KDE's desktop.
for_window [class=".*"] floating enable
for_window [app_id=".*"] floating enable
CONF
"${sway_user[@]}" env -i PATH=/usr/bin:/bin HOME="$dir/home" XDG_RUNTIME_DIR="$dir/sway-runtime" \
  WLR_BACKENDS=headless WLR_HEADLESS_OUTPUTS=1 WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman \
  sway -c "$dir/sway.conf" >"$dir/sway.log" 2>&1 &
pids+=($!)
await test -S "$dir/sway-runtime/wayland-1" || failed "sway did not start" "$@"
export WAYLAND_DISPLAY=$dir/sway-runtime/wayland-1
await compgen -G "$dir/sway-runtime/sway-ipc.*.sock" || failed "sway has no IPC socket" "$@"
SWAYSOCK=$(compgen -G "$dir/sway-runtime/sway-ipc.*.sock")
export SWAYSOCK
if [ $xwayland = force ]; then
  # XWayland's display is known to sway's children only.
  : >"$dir/x11" && chmod 666 "$dir/x11"
  # XWayland lets in sway's user alone: this one too.
  swaymsg exec "xhost +si:localuser:$(id -un) >/dev/null && echo \$DISPLAY > $dir/x11" >/dev/null
  await test -s "$dir/x11" || failed "no XWayland" "$@"
  export TAVI_WAYLAND_X11=$(cat "$dir/x11")
  await env DISPLAY="$TAVI_WAYLAND_X11" xdpyinfo || failed "XWayland does not answer" "$@"
fi

# The chooser is the user at the dialog: it answers what the test wrote.
# Persisted choices are restored without it.
cat >"$dir/chooser.sh" <<'CHOOSER'
touch "$TAVI_WAYLAND_CHOICE.asked"
for _ in $(seq 300); do [ -s "$TAVI_WAYLAND_CHOICE" ] && break; sleep 0.1; done
rm -f "$TAVI_WAYLAND_CHOICE.asked"
choice=$(cat "$TAVI_WAYLAND_CHOICE" 2>/dev/null)
[ "$choice" = cancel ] || echo "$choice"
CHOOSER
cat >"$dir/portal-wlr.conf" <<CONF
[screencast]
chooser_type=simple
chooser_cmd=sh $dir/chooser.sh
max_fps=30
CONF
XDPW_PERSIST_MODE=permanent "$portal_wlr" -c "$dir/portal-wlr.conf" >"$dir/portal-wlr.log" 2>&1 &
pids+=($!)
await busctl --user status org.freedesktop.impl.portal.desktop.wlr || failed "the portal backend did not start" "$@"
/usr/libexec/xdg-desktop-portal >"$dir/portal.log" 2>&1 &
pids+=($!)
await busctl --user status org.freedesktop.portal.Desktop || failed "the portal did not start" "$@"

"$@"
