#!/usr/bin/env bash
# Everything on a fresh Debian 12 machine: install what the build and the tests need, configure
# with the dev preset (warnings as errors; PRESET=asan for the sanitizers), build, run the tests.
# BUILD_DIR, BUILD_TYPE and extra CMake arguments as for scripts/build.sh.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
preset="${PRESET:-dev}"
if [[ $preset == dev ]]; then default="$root/build"; else default="$root/build-$preset"; fi
build="${BUILD_DIR:-$default}"
bash "$root/scripts/install-deps.sh" build window test
PRESET="$preset" BUILD_DIR="$build" bash "$root/scripts/build.sh" "$@"
export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$build" --output-on-failure -j"$(nproc)"
