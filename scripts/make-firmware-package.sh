#!/usr/bin/env bash
# Builds the package generator and writes firmware/builtin-package.zip (or the path given as
# the first argument). The ECDSA signature is randomised, so each run changes its 64 bytes
# (and the member's CRC-32); everything else comes out byte-identical.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${BUILD_DIR:-$root/build-firmware}"
output="${1:-$root/firmware/builtin-package.zip}"
mkdir -p "$build"
# This build only makes the generator: it embeds an empty placeholder instead of the package it
# is about to (re)write, so it also works where no package exists yet.
: >"$build/placeholder-package.zip"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DQOR_BUILD_TESTS=OFF -DQOR_BUILD_UI=OFF \
    -DQOR_FIRMWARE_GENERATOR=ON -DQOR_FIRMWARE_PACKAGE="$build/placeholder-package.zip" >/dev/null
cmake --build "$build" --target qor_make_firmware_package -j2
"$build/firmware/qor_make_firmware_package" "$root/firmware/dev_key_private.pem" "$output"
