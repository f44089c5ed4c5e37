#!/usr/bin/env bash
# Rules of the code base that a compiler does not check; run by the test suite.
#  - A message is built in one pass: QString::arg(a, b, c), never .arg(a).arg(b), since a value that holds
#    "%1" (a URL escape, an id from the server) would be spliced into the wrong place by the second call.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
status=0
chained=$(grep -rPzo --include='*.cpp' --include='*.h' \
  '\.arg\((?:[^;()]|\((?:[^;()]|\((?:[^;()]|\([^;()]*\))*\))*\))*\)\s*\.arg\(' "$root/src" "$root/tests" "$root/bench" \
  | tr '\0' '\n' | grep -c 'arg(' || true)
if [ "${chained:-0}" -gt 0 ]; then
  echo "Chained QString::arg calls (build the message in one pass):"
  grep -rlPz --include='*.cpp' --include='*.h' \
    '\.arg\((?:[^;()]|\((?:[^;()]|\((?:[^;()]|\([^;()]*\))*\))*\))*\)\s*\.arg\(' "$root/src" "$root/tests" "$root/bench"
  status=1
fi
exit $status
