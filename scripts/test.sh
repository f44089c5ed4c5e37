#!/usr/bin/env bash
# Installs what the build needs (Debian 12), configures, builds and runs the whole test suite through CTest.
#   scripts/test.sh           normal build in build/
#   scripts/test.sh --asan    AddressSanitizer + UndefinedBehaviorSanitizer build in build-asan/
#   scripts/test.sh --tsan    ThreadSanitizer build in build-tsan/
#   scripts/test.sh --fuzz    the suite, then a short run of every fuzz target (scripts/fuzz.sh 30)
# A compiler warning fails the build (VC_WARNINGS_AS_ERRORS). Exits non-zero when anything fails.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

build=build
flags=(-DVC_WARNINGS_AS_ERRORS=ON)
fuzz=0
for arg in "$@"; do
  case "$arg" in
    --asan) build=build-asan; flags+=(-DVC_SANITIZE_ADDRESS=ON -DVC_BUILD_BENCHMARKS=OFF) ;;
    --tsan) build=build-tsan; flags+=(-DVC_SANITIZE_THREAD=ON -DVC_BUILD_BENCHMARKS=OFF) ;;
    --fuzz) fuzz=1 ;;
    *) echo "usage: $0 [--asan | --tsan] [--fuzz]" >&2; exit 2 ;;
  esac
done

bash scripts/install-deps.sh
cmake -S . -B "$build" -G Ninja ${flags[@]+"${flags[@]}"}
cmake --build "$build" -j "$(nproc)"
(cd "$build" && ctest --output-on-failure --timeout 600 -j "$(nproc)")
if [ "$fuzz" = 1 ]; then
  bash scripts/fuzz.sh "${VC_FUZZ_SECONDS:-30}"
fi
