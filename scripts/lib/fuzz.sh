# Shared by scripts/test's fuzz stage and scripts/fuzz: the clang build of the
# fuzz targets (tests/fuzz) in build/fuzz, and one libFuzzer run of a target.
# Source scripts/lib/common.sh first.
fuzz_dir=$build_root/fuzz
fuzz_source=$repo_root/tests/fuzz

configure_fuzz() {
  cmake -G Ninja -S "$fuzz_source" -B "$fuzz_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
}

# The targets the clang build has, one name a line (fuzz_NAME programs, by NAME).
fuzz_targets() {
  find "$fuzz_dir" -maxdepth 1 -type f -name 'fuzz_*' -perm -u+x -printf '%f\n' | sed 's/^fuzz_//' | sort
}

# fuzz_run NAME SECONDS CORPUS ARTIFACTS LOG: runs fuzz_NAME for SECONDS, new
# inputs into CORPUS (the seeds of tests/fuzz/corpus/NAME are read too, never
# written), a crashing input into ARTIFACTS; its output into LOG. Returns
# libFuzzer's status: nonzero for a crash, a leak, a time-out or too much memory.
fuzz_run() {
  local name=$1 seconds=$2 corpus=$3 artifacts=$4 log=$5 seeds=()
  mkdir -p "$corpus" "$artifacts"
  [ -d "$fuzz_source/corpus/$name" ] && seeds=("$fuzz_source/corpus/$name")
  nice -n 10 "$fuzz_dir/fuzz_$name" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 \
    -print_final_stats=1 -artifact_prefix="$artifacts/" "$corpus" "${seeds[@]}" >"$log" 2>&1
}

# fuzz_figures NAME LOG: one line with a run's figures from its log.
fuzz_figures() {
  local name=$1 log=$2 execs rate cov ft corp rss
  execs=$(sed -nE 's/^stat::number_of_executed_units: *([0-9]+)/\1/p' "$log" | tail -n 1)
  rate=$(sed -nE 's/^stat::average_exec_per_sec: *([0-9]+)/\1/p' "$log" | tail -n 1)
  rss=$(sed -nE 's/^stat::peak_rss_mb: *([0-9]+)/\1/p' "$log" | tail -n 1)
  cov=$(grep -oE 'cov: [0-9]+' "$log" | tail -n 1 | cut -d' ' -f2)
  ft=$(grep -oE 'ft: [0-9]+' "$log" | tail -n 1 | cut -d' ' -f2)
  corp=$(grep -oE 'corp: [0-9]+/[0-9]+[a-zA-Z]*' "$log" | tail -n 1 | cut -d' ' -f2)
  echo "$name: ${execs:-?} execs, ${rate:-?} execs/s, cov ${cov:-?}, ft ${ft:-?}, corpus ${corp:-?}, peak ${rss:-?} MB"
}
