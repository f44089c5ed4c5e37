#!/usr/bin/env bash
# Builds the fuzz targets of fuzz/ with clang (libFuzzer, AddressSanitizer, UndefinedBehaviorSanitizer) in
# build-fuzz/ and runs each one in turn for the given time, at low priority.
#   scripts/fuzz.sh [seconds] [target ...]     default: 30 seconds, every target
# Corpora grow in build-fuzz/corpus/<target> (seeded from tests/data, scripts/demo and fuzz/seeds); a
# finding is saved in build-fuzz/findings/<target>/ and makes the script fail. The figures of each run
# (executions per second, coverage, features) are printed at the end.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

seconds=${1:-30}
[ $# -gt 0 ] && shift
all=(FuzzSettings FuzzDeviceSettings FuzzSchedule FuzzVitrelleList FuzzVitrelle FuzzTypes FuzzTemplate FuzzEdid
     FuzzControlCode FuzzSerialReply)
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=("${all[@]}")

bash scripts/install-deps.sh --fuzz
build=build-fuzz
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B "$build" -G Ninja -DCMAKE_C_COMPILER=clang-16 -DCMAKE_CXX_COMPILER=clang++-16 \
  -DVC_BUILD_FUZZERS=ON -DVC_BUILD_TESTS=OFF -DVC_BUILD_BENCHMARKS=OFF ${launcher[@]+"${launcher[@]}"} >/dev/null
cmake --build "$build" -j "${VC_FUZZ_JOBS:-$(nproc)}" --target "${targets[@]}"

# The seed files of one target, one path a line.
seeds() {
  local xml=(tests/data/xml/*.xml)
  case "$1" in
    FuzzSettings) printf '%s\n' fuzz/seeds/Settings/* "${xml[@]}" ;;
    FuzzDeviceSettings) printf '%s\n' fuzz/seeds/DeviceSettings/* "${xml[@]}" ;;
    FuzzSchedule) printf '%s\n' tests/data/schedule/*.xml scripts/demo/Schedule.xml "${xml[@]}" ;;
    FuzzVitrelleList)
      printf '%s\n' tests/data/repository/*List.xml tests/data/player/VitrelleList.xml \
        scripts/demo/Cache/VitrelleList.xml "${xml[@]}" ;;
    FuzzVitrelle)
      printf '%s\n' tests/data/repository/{gallery,17,BrokenVitrelle,unsafe}.xml tests/data/player/{mixed,empty}.xml \
        scripts/demo/Cache/{gallery,welcome}.xml fuzz/seeds/Vitrelle/* "${xml[@]}" ;;
    FuzzTypes) printf '%s\n' tests/data/*/Types.xml scripts/demo/Templates/Types.xml "${xml[@]}" ;;
    FuzzEdid) printf '%s\n' tests/data/edid/*.bin ;;
    FuzzControlCode) printf '%s\n' fuzz/seeds/ControlCode/* ;;
    FuzzSerialReply) printf '%s\n' fuzz/seeds/SerialReply/* ;;
  esac
}

# Lays out the corpus folder of a target: its seeds (the template target's are each template with each slide
# file, joined by a NUL byte) added to whatever earlier runs found.
corpus() {
  local target=$1 dir="$build/corpus/$1"
  mkdir -p "$dir"
  if [ "$target" = FuzzTemplate ]; then
    local xsl slides n=0
    for xsl in tests/data/solid/*.xsl tests/data/player/*.xsl scripts/demo/Templates/*.xsl; do
      for slides in scripts/demo/Cache/welcome.xml scripts/demo/Cache/gallery.xml tests/data/player/mixed.xml; do
        n=$((n + 1))
        { cat "$xsl"; printf '\0'; cat "$slides"; } > "$dir/seed-$n"
      done
    done
  else
    local file
    while IFS= read -r file; do
      cp -f "$file" "$dir/seed-$(basename "$(dirname "$file")")-$(basename "$file")"
    done < <(seeds "$target")
  fi
  # A folder of seeds may hold minimized findings kept as regression inputs.
  if [ -d "fuzz/regressions/$target" ]; then
    cp -f fuzz/regressions/"$target"/* "$dir/" 2>/dev/null || true
  fi
}

dictionary() {
  case "$1" in
    FuzzEdid | FuzzControlCode | FuzzSerialReply) ;;
    FuzzTemplate) echo "-dict=fuzz/xsl.dict" ;;
    *) echo "-dict=fuzz/xml.dict" ;;
  esac
}

# Stack traces with function names and lines.
if command -v llvm-symbolizer >/dev/null; then
  export ASAN_SYMBOLIZER_PATH=${ASAN_SYMBOLIZER_PATH:-$(command -v llvm-symbolizer)}
fi
status=0
summary=()
for target in "${targets[@]}"; do
  corpus "$target"
  findings="$build/findings/$target"
  mkdir -p "$findings"
  log="$build/logs/$target.log"
  mkdir -p "$build/logs"
  echo "== $target: $seconds s"
  dict=$(dictionary "$target")
  # One fuzzer at a time, at low priority: the machine is shared.
  if nice -n "${VC_FUZZ_NICE:-15}" "$build/bin/$target" -max_total_time="$seconds" -timeout=25 -rss_limit_mb=2560 \
      -max_len=65536 -print_final_stats=1 -artifact_prefix="$findings/" ${dict:+"$dict"} \
      "$build/corpus/$target" >"$log" 2>&1; then
    result=ok
  else
    result="FINDING (see $log and $findings/)"
    status=1
  fi
  runs=$(grep -o 'stat::number_of_executed_units: [0-9]*' "$log" | grep -o '[0-9]*$' || echo 0)
  rate=$(grep -o 'exec/s: [0-9]*' "$log" | tail -1 | grep -o '[0-9]*$' || echo 0)
  cov=$(grep -o 'cov: [0-9]* ft: [0-9]*' "$log" | tail -1 || true)
  summary+=("$(printf '%-20s %8s runs %7s exec/s  %-22s %s' "$target" "$runs" "$rate" "${cov:-cov: ? ft: ?}" "$result")")
done

echo
printf '%s\n' "${summary[@]}"
exit $status
