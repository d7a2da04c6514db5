#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing need, when any is missing.
set -euo pipefail

packages=(
  g++ cmake make pkg-config
  qt6-base-dev qt6-base-dev-tools libgl-dev
  qt6-translations-l10n qt6-image-formats-plugins
  libsqlite3-dev libical-dev tzdata qtkeychain-qt6-dev
  fonts-ipafont-gothic
  dbus-daemon desktop-file-utils
  radicale xandikos openssl
)
if [ "${1:-}" = "--gui-tools" ]; then
  packages+=(xvfb openbox xdotool imagemagick)
fi
# What scripts/check-package.sh needs to make the Debian package (dpkg-shlibdeps reads the
# program's libraries; CPack finds programs with file), validate its metadata and drive the
# installed program as a new user on a private display.
if [ "${1:-}" = "--package-tools" ]; then
  packages+=(dpkg-dev file desktop-file-utils appstream xvfb openbox xdotool sqlite3 passwd)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
