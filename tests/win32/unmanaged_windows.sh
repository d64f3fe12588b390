#!/usr/bin/env bash
# Runs a Windows program that shows windows under wine, in the given prefix, with wine's windows
# left unmanaged: under a bare X server (Xvfb without a window manager) wine would otherwise
# wait for a window manager on every show and hide of a window.
#   unmanaged_windows.sh --prefix DIR program.exe [arguments...]
# Wine reads the setting when a process starts, so it is written once per prefix, before.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
[[ "${1:-}" == "--prefix" ]] || { echo "usage: $0 --prefix DIR program.exe [arguments...]" >&2; exit 2; }
prefix="$2"
shift 2
run=(bash "$here/../../scripts/wine-run.sh" --prefix "$prefix")
mkdir -p "$prefix"
(
    flock 9
    if [[ ! -f "$prefix/.qor-unmanaged" ]]; then
        "${run[@]}" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f \
            </dev/null >/dev/null 2>&1 9>&-
        touch "$prefix/.qor-unmanaged"
    fi
) 9>"$prefix.unmanaged.lock"
exec "${run[@]}" "$@"
