#!/usr/bin/env bash
# Installs what is missing, builds, and starts the window.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh" "$root/build"
if [[ -x "$root/build/bin/quellmark" ]]; then
  exec "$root/build/bin/quellmark" "$@"
fi
echo "Built everything in build/, but without the window (QUELLMARK_BUILD_GUI=OFF?)."
echo "The command-line front end is build/bin/quellmark-cli."
