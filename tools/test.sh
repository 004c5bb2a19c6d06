#!/bin/sh
# Runs the whole test suite on the build made by tools/setup.sh.
set -e
cd "$(dirname "$0")/.."
ctest --test-dir build --output-on-failure -j 2
