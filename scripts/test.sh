#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the normal build,
# then the whole suite under AddressSanitizer + UndefinedBehaviorSanitizer,
# then the pipeline's threading tests under ThreadSanitizer.
# Set QUELLMARK_SKIP_SANITIZERS=1 to run the normal build only.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)

"$root/scripts/install-deps.sh"

echo "== build and test (release with debug info)"
"$root/scripts/build.sh" "$root/build"
(cd "$root/build" && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j"$jobs")

if [[ "${QUELLMARK_SKIP_SANITIZERS:-0}" != "1" ]]; then
  echo "== build and test under AddressSanitizer + UndefinedBehaviorSanitizer"
  "$root/scripts/build.sh" "$root/build-asan" -DCMAKE_BUILD_TYPE=Debug -DQUELLMARK_SANITIZE=address -DQUELLMARK_BUILD_GUI=ON
  (cd "$root/build-asan" && ASAN_OPTIONS=detect_leaks=1 LSAN_OPTIONS=suppressions="$root/scripts/lsan.supp" QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j"$jobs")

  echo "== threading tests under ThreadSanitizer"
  cmake -S "$root" -B "$root/build-tsan" -DCMAKE_BUILD_TYPE=Debug -DQUELLMARK_SANITIZE=thread -DQUELLMARK_BUILD_GUI=OFF >/dev/null
  cmake --build "$root/build-tsan" --target pipeline_tests quellmark_app_core_tests quellmark_cd_tests quellmark_cd_grab_tests quellmark_cd_player_tests quellmark_media_tests cdrip quellmark_vorbis_tests -j"$jobs"
  (cd "$root/build-tsan" && TSAN_OPTIONS=halt_on_error=1 ctest --output-on-failure -j"$jobs" -R '^(SinkTest|SinkLifetime|MainThreadInvoker|AutoResetEvent|RunControl)\.|^CDInTest\.MainThread|^GrabFixture\.StopWhile|^PlayerFixture\.(Pause|Stop)|^VorbisLibraries\.Concurrent|^WmaOutTest\.Streamed')
fi
echo "== all tests passed"
