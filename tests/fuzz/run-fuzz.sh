#!/usr/bin/env bash
# Builds the project-file reader with libFuzzer and runs it for a bounded time, seeded with the
# public JSON test suite. Usage: run-fuzz.sh SOURCE_DIR BUILD_DIR SECONDS
set -euo pipefail
src=$1; out=$2; secs=${3:-30}
clangxx=$(command -v clang++ || true)
if [ -z "$clangxx" ]; then
  echo "clang++ is missing: run scripts/install-deps" >&2
  exit 1
fi
mkdir -p "$out"
out=$(cd "$out" && pwd)
bin="$out/fuzz_project_reader"
if [ ! -x "$bin" ] || [ -n "$(find "$src/src/base" "$src/src/recstore" "$src/tests/fuzz" -newer "$bin" -name '*.[ch]*' 2>/dev/null | head -n 1)" ]; then
  "$clangxx" -std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
    -I "$src/src" "$src/tests/fuzz/ProjectReaderFuzz.cpp" "$src/src/recstore/JsonText.cpp" \
    "$src/src/recstore/Json.cpp" "$src/src/base/StrUtils.cpp" -o "$bin"
fi
corpus=$(mktemp -d)
trap 'rm -rf "$corpus"' EXIT
cp "$src"/tests/data/JSONTestSuite/test_parsing/* "$corpus"/
cd "$out"
"$bin" -max_total_time="$secs" -timeout=10 -rss_limit_mb=2048 -max_len=65536 \
  -print_final_stats=1 "$corpus" 2>&1 | tail -n 25
