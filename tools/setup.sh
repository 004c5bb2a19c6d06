#!/bin/sh
# Installs what is missing (Debian 12, as root) and builds.
#   sh tools/setup.sh          what the converter needs to build and run; builds strandor
#   sh tools/setup.sh --tests  also what the tests, the sanitizer build and the fuzzers
#                              need; builds everything
set -e
cd "$(dirname "$0")/.."
PACKAGES="g++ cmake make flex bison qtbase5-dev libxml2-dev zlib1g-dev libpq-dev tzdata"
TEST_PACKAGES="libxml2-utils perl unzip time file clang libclang-rt-14-dev python3-yaml python3-prometheus-client dpkg-dev systemd postgresql python3-pandas"
target="--target strandor"
if [ "${1:-}" = --tests ]; then
    PACKAGES="$PACKAGES $TEST_PACKAGES"
    target=""
fi
missing=""
for p in $PACKAGES; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $missing >/dev/null
fi
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" $target
