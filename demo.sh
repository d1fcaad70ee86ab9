#!/bin/sh
# Converts the sample measurement in examples/ and shows the first lines of the result.
#   ./demo.sh [build folder]      (default: build)
set -e
BUILD=${1:-build}
BIN=$(cd "$BUILD/bin" && pwd)/traxcon
WORK="$BUILD/demo"
rm -rf "$WORK"
mkdir -p "$WORK"
cp examples/measurement.dat "$WORK/"
cd "$WORK"
echo "\$ traxcon measurement /trig =e"
"$BIN" measurement /trig =e
echo
echo "\$ head -n 16 measurement.adf"
head -n 16 measurement.adf
