#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing need.
# Installs nothing when everything is already there, so a rerun is quick.
set -euo pipefail
packages=(
  build-essential cmake pkg-config
  qt6-base-dev qt6-multimedia-dev qt6-qpa-plugins
  libavformat-dev libavcodec-dev libavutil-dev libswscale-dev libswresample-dev
  libcurl4-openssl-dev
  fp-utils
  ffmpeg
  gstreamer1.0-tools gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-ugly
  gstreamer1.0-plugins-bad gstreamer1.0-libav mkvtoolnix mencoder handbrake-cli
  vcdimager dvdauthor
  libgtest-dev libgmock-dev
  xvfb xauth xdotool imagemagick
  xdg-utils desktop-file-utils appstream dpkg-dev
  fonts-liberation
  python3
  shared-mime-info
  pulseaudio pulseaudio-utils
)
missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}" >&2
  sudo_cmd=()
  [[ $(id -u) -eq 0 ]] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
fi
