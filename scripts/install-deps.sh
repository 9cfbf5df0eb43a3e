#!/usr/bin/env bash
# Installs the build and test dependencies (Debian packages). Harmless when already installed.
set -euo pipefail
packages=(g++ binutils clang libclang-rt-14-dev cmake make pkg-config libgtest-dev libgmock-dev libpoco-dev libelf-dev
  python3 python3-pyftpdlib lftp vsftpd
  libsystemd-dev systemd dbus-daemon dbus-user-session polkitd openssh-client openssh-server util-linux passwd
  qt6-base-dev qt6-qpa-plugins libgl-dev libpam0g-dev libacl1-dev libpam-modules libpam-runtime libcrypt-dev xvfb xauth x11-utils
  fonts-dejavu-core locales)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}"
fi
# The Turkish locale, whose dotless i shows that ASCII letters are lowered as ASCII.
if ! locale -a | grep -qix 'tr_TR.utf8'; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO localedef -i tr_TR -f UTF-8 tr_TR.UTF-8
fi
