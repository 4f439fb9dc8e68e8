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
