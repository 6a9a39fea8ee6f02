#!/usr/bin/env bash
# Builds the libFuzzer targets (clang) and runs each one for a bounded time on
# a seed corpus made here; fails when any of them finds a crash.
#   FUZZ_SECONDS    seconds per target (default 30)
#   FUZZ_BUILD_DIR  build folder (default build/fuzz)
#   FUZZ_TARGETS    run only these targets (space-separated names)
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${FUZZ_BUILD_DIR:-$ROOT/build/fuzz}"
SECONDS_EACH="${FUZZ_SECONDS:-30}"
export QELM2_LOOPBACK_ONLY=1
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"

"$ROOT/scripts/install-deps.sh" --fuzz

CC=clang CXX=clang++ cmake -S "$ROOT" -B "$BUILD" -G Ninja -DQELM2_FUZZ=ON -DQELM2_BUILD_TESTS=OFF
cmake --build "$BUILD" --target qelm2_fuzzers

# Seeds: a few small valid inputs per target, written fresh on every run.
seed_fuzz_registry_hive() {
  cat >"$1/hive.xml" <<'XML'
<?xml version="1.0" encoding="UTF-8" ?>
<Registry>
  <Key name="HKEY_LOCAL_MACHINE">
    <Key name="SOFTWARE">
      <Key name="Vendor">
        <Value name="Language" type="1" text="中文" />
        <Value name="Number" type="4" dword="7" />
        <Value name="Blob" type="3" hex="00ff7f" />
        <Value namehex="0a09" type="2" hex="6100" />
      </Key>
    </Key>
  </Key>
  <Key name="HKEY_CURRENT_USER" />
</Registry>
XML
  printf '<Registry/>' >"$1/empty.xml"
  printf '<Registry><Key name="HKEY_USERS"><!-- c --><Key name="a"><Value name="" type="1" text="&amp;&lt;"/></Key></Key></Registry>' >"$1/small.xml"
}

seed_fuzz_gbtext() {
  printf '\x10前门摄像机' >"$1/chinese"
  printf '\x05\xc7\xb0\xc3\xc5\x00\x00' >"$1/gbfield"
  printf '\x07A𠀀B\x95\x32\x82\x36' >"$1/fourbyte"
  printf '\x03Camera 01\xff\x81\x30' >"$1/broken"
}

seed_fuzz_core_text() {
  printf 'YWJj\nYWI=' >"$1/base64"
  printf '张国强\nzg*' >"$1/pinyin"
  printf 'cabd\n*ab*' >"$1/inner"
  printf 'a::b:\n:' >"$1/split"
  printf 'a\xe5\n\xe5\x89' >"$1/cut"
}

WORK="$BUILD/fuzz/run"
rm -rf "$WORK"
mkdir -p "$WORK"
failed=()
ran=0
for exe in "$BUILD"/fuzz/bin/fuzz_*; do
  [ -x "$exe" ] || continue
  name="$(basename "$exe")"
  if [ -n "${FUZZ_TARGETS:-}" ] && [[ " $FUZZ_TARGETS " != *" $name "* ]]; then
    continue
  fi
  dir="$WORK/$name"
  mkdir -p "$dir/seeds" "$dir/corpus" "$dir/artifacts"
  if declare -F "seed_$name" >/dev/null; then
    "seed_$name" "$dir/seeds"
  fi
  echo "run-fuzzers: $name for ${SECONDS_EACH}s"
  ran=$((ran + 1))
  if ! "$exe" -max_total_time="$SECONDS_EACH" -timeout=25 -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="$dir/artifacts/" "$dir/corpus" "$dir/seeds" >"$dir/log.txt" 2>&1; then
    failed+=("$name")
    tail -n 60 "$dir/log.txt"
    echo "run-fuzzers: $name FAILED; reproducer in $dir/artifacts/"
  else
    grep -E '^stat::number_of_executed_units' "$dir/log.txt" || true
  fi
done

if [ "$ran" -eq 0 ]; then
  echo "run-fuzzers: no fuzz targets found in $BUILD/fuzz/bin" >&2
  exit 1
fi
if [ ${#failed[@]} -ne 0 ]; then
  echo "run-fuzzers: crashes in ${failed[*]}" >&2
  exit 1
fi
echo "run-fuzzers: $ran targets ran without a crash"
