#!/bin/sh
# Installs the Debian 12 packages needed to build, run and test Velocitrix.
# Safe to run repeatedly: apt only fetches what is missing.
set -eu
PACKAGES="build-essential cmake pkg-config ca-certificates \
  libbullet-dev libcrypto++-dev libsqlite3-dev libyaml-cpp-dev \
  libcurl4-openssl-dev libsimde-dev qt6-base-dev libgl-dev fonts-dejavu-core \
  libgtest-dev python3 python3-pyftpdlib openssl"
missing=""
for p in $PACKAGES; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get -o DPkg::Lock::Timeout=120 update -qq
  $SUDO apt-get -o DPkg::Lock::Timeout=120 install -y -qq --no-install-recommends $missing
fi
