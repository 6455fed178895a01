#!/usr/bin/env bash
# Installs what is missing, builds, and starts the window.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh" "$root/build"
if [[ -x "$root/build/bin/quellmark" ]]; then
  exec "$root/build/bin/quellmark" "$@"
fi
echo "Built everything in build/; the window is not part of this version yet."
echo "The command-line front end, when built, is build/bin/quellmark-cli."
