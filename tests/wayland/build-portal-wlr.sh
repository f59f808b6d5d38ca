#!/usr/bin/env bash
# Builds the wlroots backend of the desktop portal that the Wayland tests use,
# from Debian's own source, once into OUT (kept between runs).
#   build-portal-wlr.sh OUT
# Test set-up only, never shipped: Debian's xdg-desktop-portal-wlr 0.7.0
# refuses to start a screen cast unless the compositor offers a DMA-BUF
# format, which it never does without a GPU (pixman renderer, as in CI). The
# check is limited here to the shared-memory format, which it then streams.
set -euo pipefail
out=${1:?output folder}
bin=$out/xdg-desktop-portal-wlr
[ -x "$bin" ] && exit 0
work=$(mktemp -d "${TMPDIR:-/tmp}/tavi-portal-wlr.XXXXXX")
chmod 755 "$work" # apt-get source fetches as _apt
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/lists/partial" "$out"
# Source lines made from the machine's own binary lines.
if [ -f /etc/apt/sources.list.d/debian.sources ]; then
  sed -e 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources >"$work/src.sources"
  list=(-o Dir::Etc::SourceParts="$work" -o Dir::Etc::SourceList=/dev/null)
else
  sed -n 's/^deb /deb-src /p' /etc/apt/sources.list >"$work/src.list"
  list=(-o Dir::Etc::SourceList="$work/src.list" -o Dir::Etc::SourceParts=/dev/null)
fi
apt=(-o Dir::State::Lists="$work/lists" "${list[@]}")
apt-get "${apt[@]}" update -qq >/dev/null
(cd "$work" && apt-get "${apt[@]}" source -qq --download-only xdg-desktop-portal-wlr >/dev/null &&
  dpkg-source -x ./*.dsc xdpw >/dev/null 2>&1)
file=$work/xdpw/src/screencast/screencast.c
perl -0pi -e 's/if \(cast->screencopy_frame_info\[WL_SHM\]\.format == DRM_FORMAT_INVALID \|\|.*?\)\) \{/if (cast->screencopy_frame_info[WL_SHM].format == DRM_FORMAT_INVALID) {/s' "$file"
grep -q 'if (cast->screencopy_frame_info\[WL_SHM\].format == DRM_FORMAT_INVALID) {' "$file" ||
  { echo "build-portal-wlr: the DMA-BUF check was not found" >&2; exit 1; }
(cd "$work/xdpw" && meson setup build -Dman-pages=disabled -Dsystemd=disabled >/dev/null &&
  ninja -C build >/dev/null)
install -m 755 "$work/xdpw/build/xdg-desktop-portal-wlr" "$bin.tmp"
mv "$bin.tmp" "$bin"
