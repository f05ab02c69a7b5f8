#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build/fuzz and runs each for the given
# number of seconds, one after the other, each in one process on one core.
#   fuzz/run_fuzzers.sh [seconds] [target...]       (default: 60 s, all five)
# Environment: FUZZ_CXX (default: the newest clang++ 15..19 found), FUZZ_CORPUS
# (default build/fuzz-corpus). New corpus entries stay in the corpus folder;
# crash reproducers go to build/fuzz/artifacts/<target>/.
set -euo pipefail
cd "$(dirname "$0")/.."
SECONDS_PER_TARGET=${1:-60}
shift || true
TARGETS=("$@")
((${#TARGETS[@]})) || TARGETS=(fuzz_read_mps fuzz_load_source fuzz_roundtrip fuzz_thread_plans fuzz_read_lp)
CORPUS=${FUZZ_CORPUS:-build/fuzz-corpus}

# The core uses std::source_location, which libstdc++ offers to clang from clang 15 on.
if [[ -z "${FUZZ_CXX:-}" ]]; then
  for v in 19 18 17 16 15; do
    if command -v "clang++-$v" >/dev/null; then FUZZ_CXX=clang++-$v; break; fi
  done
fi
if [[ -z "${FUZZ_CXX:-}" ]]; then
  echo "fuzz: needs clang 15 or newer with libFuzzer. Run:"
  echo "  sudo apt-get install -y clang-16 libclang-rt-16-dev"
  exit 1
fi

cmake -S . -B build/fuzz -DMOPSEL_FUZZ=ON -DCMAKE_CXX_COMPILER="$FUZZ_CXX" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/fuzz -j"${JOBS:-2}"
[[ -d "$CORPUS/thread_plans" && -d "$CORPUS/read_lp" ]] || fuzz/make_seeds.sh "$CORPUS"

status=0
for target in "${TARGETS[@]}"; do
  case $target in
    fuzz_read_mps) corpus=$CORPUS/read_mps; max_len=32768 ;;
    fuzz_read_lp) corpus=$CORPUS/read_lp; max_len=32768 ;;
    fuzz_roundtrip) corpus=$CORPUS/roundtrip; max_len=32768 ;;
    fuzz_thread_plans) corpus=$CORPUS/thread_plans; max_len=32768 ;;
    fuzz_load_source) corpus=$CORPUS/load_source; max_len=70000 ;;
    *) echo "fuzz: unknown target $target"; exit 2 ;;
  esac
  artifacts=build/fuzz/artifacts/$target/
  mkdir -p "$artifacts" "$corpus"
  log=build/fuzz/$target.log
  echo "fuzz: $target for ${SECONDS_PER_TARGET}s (log: $log)"
  dict=fuzz/mps.dict
  [[ $target == fuzz_read_lp ]] && dict=fuzz/lp.dict
  if ! build/fuzz/fuzz/$target "$corpus" -dict=$dict -max_len=$max_len \
      -max_total_time="$SECONDS_PER_TARGET" -rss_limit_mb=2048 \
      -malloc_limit_mb=1024 -timeout=20 -print_final_stats=1 \
      -artifact_prefix="$artifacts" >"$log" 2>&1; then
    echo "fuzz: $target FAILED; reproducer in $artifacts; tail of the log:"
    tail -40 "$log"
    status=1
  fi
  grep -E '^stat::number_of_executed_units|^Done ' "$log" | sed "s/^/  /" || true
done
exit $status
