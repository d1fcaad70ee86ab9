#!/bin/sh
# Runs the converter's main job on the sample measurement in examples/.
set -e
BUILD=${1:-build}
"$BUILD/bin/traxcon" =e /?
