#!/usr/bin/env bash
# Configures with a preset of CMakePresets.json and builds everything; extra arguments go to
# CMake's configure step (e.g. -DQOR_WERROR=OFF).
#   PRESET      dev (default), asan, demo, release or mingw
#   BUILD_DIR   build folder (default: the preset's, build/ for dev and build-PRESET/ otherwise)
#   BUILD_TYPE  overrides the preset's build type
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
preset="${PRESET:-dev}"
if [[ $preset == dev ]]; then default="$root/build"; else default="$root/build-$preset"; fi
build="${BUILD_DIR:-$default}"
args=()
if [[ -n ${BUILD_TYPE:-} ]]; then args+=("-DCMAKE_BUILD_TYPE=$BUILD_TYPE"); fi
(cd "$root" && cmake --preset "$preset" -B "$build" "${args[@]}" "$@" >/dev/null)
cmake --build "$build" -j"$(nproc)"
