#!/usr/bin/env bash
# Runs clang-tidy with the repository's .clang-tidy (bug-prone and performance checks) over the project's
# C++ files, or over the files or folders given; any finding fails the run (exit 1).
#   scripts/tidy.sh                         every .cpp of src/, tests/, bench/ and fuzz/
#   scripts/tidy.sh src/Devices FILE.cpp    those only
# It needs a configured build folder for the compile commands: $VC_TIDY_BUILD, by default build/ (made by
# scripts/test.sh or the README's cmake line). About 15 s a file on a busy two-core machine; VC_TIDY_JOBS
# sets how many run at once (default: the number of cores).
set -euo pipefail
cd "$(dirname "$0")/.."

build=${VC_TIDY_BUILD:-build}
if [ ! -f "$build/compile_commands.json" ]; then
  echo "tidy: $build/compile_commands.json is missing; configure a build first (scripts/test.sh)" >&2
  exit 2
fi
if ! command -v clang-tidy >/dev/null; then
  echo "tidy: clang-tidy is not installed (scripts/install-deps.sh installs it)" >&2
  exit 2
fi

[ $# -eq 0 ] && set -- src tests bench fuzz
files=()
for arg in "$@"; do
  if [ -d "$arg" ]; then
    mapfile -t -O "${#files[@]}" files < <(find "$arg" -type f -name '*.cpp' | sort)
  else
    files+=("$arg")
  fi
done
# Only what the build compiles has compile commands (the fuzz targets, for one, need VC_BUILD_FUZZERS).
compiled=()
for file in "${files[@]}"; do
  if grep -q "\"file\": \"$(pwd)/$file\"" "$build/compile_commands.json"; then
    compiled+=("$file")
  fi
done
echo "tidy: ${#compiled[@]} files"
# Findings go to standard output; clang-tidy's counts of suppressed warnings are left out.
if printf '%s\n' "${compiled[@]}" |
  xargs -P "${VC_TIDY_JOBS:-$(nproc)}" -n 1 nice clang-tidy -p "$build" --quiet 2>/dev/null; then
  echo "tidy: no findings"
else
  echo "tidy: findings above" >&2
  exit 1
fi
