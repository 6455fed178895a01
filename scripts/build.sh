#!/usr/bin/env bash
# Configures and builds the project. Usage: scripts/build.sh [BUILD_DIR] [extra cmake args...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
shift || true
generator=()
command -v ninja >/dev/null 2>&1 && generator=(-G Ninja)
if [[ ! -f "$build/CMakeCache.txt" ]]; then
  cmake -S "$root" -B "$build" "${generator[@]}" "$@"
else
  cmake -S "$root" -B "$build" "$@"
fi
cmake --build "$build" -j"$(nproc)"
