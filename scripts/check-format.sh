#!/usr/bin/env bash
# Fails when clang-format (with the repository's .clang-format) would change a C++ file of src/, tests/,
# bench/ or fuzz/, and names each such file with the first lines it would change. The fix:
#   cmake --build build --target format      (or clang-format -i FILE)
set -euo pipefail
cd "$(dirname "$0")/.."

if ! command -v clang-format >/dev/null; then
  echo "check-format: clang-format is not installed (scripts/install-deps.sh installs it)" >&2
  exit 2
fi

mapfile -t files < <(find src tests bench fuzz -type f \( -name '*.cpp' -o -name '*.h' \) | sort)
status=0
for file in "${files[@]}"; do
  if ! clang-format --dry-run --Werror "$file" >/dev/null 2>&1; then
    echo "check-format: $file is not formatted; clang-format would change:" >&2
    diff -u "$file" <(clang-format "$file") | sed -n '3,12p' >&2 || true
    status=1
  fi
done
if [ "$status" = 0 ]; then
  echo "check-format: ${#files[@]} files formatted"
fi
exit "$status"
