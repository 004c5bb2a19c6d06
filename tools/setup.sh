#!/bin/sh
# Installs what the build and the tests need (Debian 12, as root), then builds.
set -e
cd "$(dirname "$0")/.."
PACKAGES="g++ cmake make flex bison qtbase5-dev libxml2-dev zlib1g-dev libxml2-utils tzdata perl unzip time clang libclang-rt-14-dev python3-yaml python3-prometheus-client dpkg-dev systemd"
missing=""
for p in $PACKAGES; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $missing >/dev/null
fi
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)"
