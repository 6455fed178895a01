#!/usr/bin/env bash
# Builds the Debian package: a release build installed under /usr, packaged
# by cpack from the install rules. Usage: scripts/build-deb.sh [BUILD_DIR]
# Prints the path of the .deb it made.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-package}
"$root/scripts/build.sh" "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DQUELLMARK_BUILD_TESTS=OFF >&2
(cd "$build" && cpack -G DEB >&2)
ls "$build"/quellmark_*.deb
