#!/usr/bin/env bash
# Installs a build into a temporary prefix and checks what was installed: the layout, the menu entry
# (desktop-file-validate), the AppStream metadata (appstreamcli), icon sizes, the manual page, and
# that the installed program finds its files in share/korvelin, reads a clip and steps its preview
# on key presses (check-keys-xvfb.sh).
#   packaging/check-install.sh BUILD_DIR [SCREENSHOT_DIR]
set -euo pipefail
build=$1
shots=${2:-}
here=$(cd "$(dirname "$0")" && pwd)
prefix=$(mktemp -d /tmp/korvelin-install.XXXXXX)
trap 'rm -rf "$prefix"' EXIT
fail() { echo "check-install: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$prefix" >/dev/null

expected=(
  bin/korvelin
  share/korvelin/Languages/English.ini share/korvelin/kvl.skn share/korvelin/kvl.spl share/korvelin/kvl.chm
  share/korvelin/icon.bmp share/korvelin/help/index.html share/korvelin/help/keys.html
  share/korvelin/help/help.css share/korvelin/help/korvelin.png
  share/applications/korvelin.desktop
  share/icons/hicolor/48x48/apps/korvelin.png share/icons/hicolor/128x128/apps/korvelin.png
  share/icons/hicolor/256x256/apps/korvelin.png share/icons/hicolor/scalable/apps/korvelin.svg
  share/metainfo/com.halvorin.Korvelin.metainfo.xml
  share/man/man1/korvelin.1.gz
)
for f in "${expected[@]}"; do [[ -f "$prefix/$f" ]] || fail "not installed: $f"; done
# Nothing outside the standard folders.
stray=$(cd "$prefix" && find . -mindepth 1 -maxdepth 1 ! -name bin ! -name share)
[[ -z "$stray" ]] || fail "installed outside bin/ and share/: $stray"
[[ -z "$(ls "$prefix/bin" | grep -vx korvelin)" ]] || fail "bin/ holds more than korvelin: $(ls "$prefix/bin")"

desktop-file-validate "$prefix/share/applications/korvelin.desktop"
appstreamcli validate --no-net "$prefix/share/metainfo/com.halvorin.Korvelin.metainfo.xml"

# Each hicolor PNG has the size of its folder (the IHDR of a PNG holds width and height).
for size in 48 128 256; do
  png="$prefix/share/icons/hicolor/${size}x${size}/apps/korvelin.png"
  read -r w h < <(od -An -tu1 -j16 -N8 "$png" | awk '{print $1*16777216+$2*65536+$3*256+$4, $5*16777216+$6*65536+$7*256+$8}')
  [[ "$w $h" == "$size $size" ]] || fail "$png is ${w}x${h}, not ${size}x${size}"
done
zcat "$prefix/share/man/man1/korvelin.1.gz" | grep -q '^\.SH BATCH MODE' || fail "the manual page has no batch mode section"

# The installed program reads a clip.
clip="$prefix/clip.avi"
ffmpeg -loglevel error -f lavfi -i testsrc2=size=320x240:rate=25 -t 1 -c:v mpeg4 "$clip"
info=$("$prefix/bin/korvelin" --info "$clip")
grep -q "FrameCount: 25" <<<"$info" || fail "the installed program did not read the clip: $info"
rm "$clip"

# Its window finds the language file (the title comes from it) and steps the preview.
"$here/check-keys-xvfb.sh" "$prefix/bin/korvelin" "$shots"
echo "check-install: layout, menu entry, metadata, icons, manual page and the installed program are fine"
