#!/bin/sh
# Rewrites the expected outputs of the end-to-end conversion tests from the current build.
# Regeneration is a deliberate act: review every changed file in the diff before committing.
#   tests/data/expected/regenerate.sh [build folder]     (default: build)
set -e
BUILD=${1:-build}
TRAXCON_REGENERATE=1 "$BUILD/bin/app_tests" --gtest_filter='Convert.*:Example.*'
