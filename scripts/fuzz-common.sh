# Shared by scripts/fuzz-ci and scripts/fuzz-long (sourced from the repository root): building the
# libFuzzer targets with clang-14 and running one of them on its kept corpus.

fuzz_build() {  # BUILD_DIR
  CC=clang-14 CXX=clang++-14 cmake -S . -B "$1" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DMURRELO_FUZZ=ON -DMURRELO_BENCH=OFF \
    $(command -v ccache >/dev/null && echo -DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache) \
    >/dev/null
  cmake --build "$1" -j "$(nproc)" --target fuzzers
}

# Fails, naming them, when a target the build defines (a dependency of `fuzzers`) is not found
# where the runs look for targets: one renamed or moved would otherwise drop out of fuzzing unseen.
fuzz_check_targets() {  # BUILD_DIR
  local defined found missing
  inputs() { ninja -C "$1" -t query "$2" | awk '/^  input:/ { on = 1; next } /^  [a-z]/ { on = 0 } on { print $1 }'; }
  defined=$(inputs "$1" "$(inputs "$1" fuzzers | head -n 1)" | awk '!/\/CMakeFiles\//' | xargs -r -n 1 basename | sort)
  found=$(fuzz_targets "$1" | xargs -r -n 1 basename | sort)
  missing=$(comm -23 <(echo "$defined") <(echo "$found") | tr '\n' ' ')
  if [ -z "$defined" ] || [ -n "$missing" ]; then
    echo "FUZZ FAILURE: found $(grep -c . <<<"$found") of the $(grep -c . <<<"$defined") fuzz targets the build defines;" \
      "missing: ${missing:-(the build defines none)}"
    return 1
  fi
}

fuzz_targets() {  # BUILD_DIR
  find "$1/fuzz" -type f -executable -name 'fuzz_*' | sort
}

# The corpus folders and fixed options of one target's run, in FUZZ_ARGS. New inputs go to
# BUILD_DIR/corpus/NAME, which later runs start from; the seeds under fuzz/*/corpus/NAME are read
# too. A finding is saved as BUILD_DIR/NAME-crash-… (or -leak-, -timeout-, -oom-).
# TIMEOUT (default 10) is the wall-clock seconds one input may take before it counts as a hang.
fuzz_args() {  # BUILD_DIR FUZZER [TIMEOUT]
  local name seeds corpus timeout=${3:-10}
  name=$(basename "$2")
  seeds=$(find fuzz -type d -path "*/corpus/$name" | head -n 1)
  corpus=$1/corpus/$name
  mkdir -p "$corpus"
  FUZZ_ARGS=(-timeout="$timeout" -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$1/$name-"
             "$corpus" ${seeds:+"$seeds"})
}

fuzz_stat() {  # LOG NAME: a final statistic, e.g. number_of_executed_units, average_exec_per_sec
  sed -n "s/^stat::$2: *//p" "$1" | tail -n 1
}

fuzz_coverage() {  # LOG: the last coverage report, "cov: N ft: M"
  grep -oE 'cov: [0-9]+ ft: [0-9]+' "$1" | tail -n 1
}
