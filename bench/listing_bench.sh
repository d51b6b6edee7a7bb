#!/usr/bin/env bash
# list_files, test_file_existence and job-file loading against find and awk.
# Usage: bench/listing_bench.sh [runs]   (data goes to bench/data, git-ignored)
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-5}
program="${RAZADEDEZUZEV_PROGRAM:-$PWD/build/razadedezuzev}"
[ -x "$program" ] || { cmake -S . -B build >/dev/null && cmake --build build -j"$(nproc)" --target razadedezuzev >/dev/null; }
data="$PWD/bench/data/listing"
mkdir -p "$data"
tree="$data/tree"

# 100,000 files in 4 levels: 10 x 10 x 10 directories of 100 files each.
if [ ! -f "$data/tree.done" ]; then
  rm -rf "$tree"
  python3 - "$tree" <<'PY'
import os, sys
root = sys.argv[1]
for a in range(10):
    for b in range(10):
        for c in range(10):
            d = os.path.join(root, f"a{a}", f"b{b}", f"c{c}")
            os.makedirs(d)
            for f in range(100):
                with open(os.path.join(d, f"file{f:03}.dat"), "wb") as out:
                    out.write(b"x" * ((a * 7 + b * 3 + c + f) % 200))
PY
  touch "$data/tree.done"
fi

printf 'dir_path\t%s\n' "$tree" > "$data/list.job"

# 100,000 records: every file once, half under their real names, half missing.
python3 - "$tree" "$data/exists.job" "$data/missing.job" "$data/missing-root.job" <<'PY'
import sys
sys.path.insert(0, "tests/support")
from jobs import uuid_of, write_job
root, exists_job, missing_job, missing_root_job = sys.argv[1:]
# Record n: file n % 100 of directory n // 100, under another name when n is odd.
directories = [f"{root}/a{a}/b{b}/c{c}" for a in range(10) for b in range(10) for c in range(10)]
names = ("file{:03}.dat", "gone{:03}.dat")
write_job(exists_job, (("file", uuid_of(n, spread=True), directories[n // 100], names[n % 2].format(n % 100), "1")
                       for n in range(100000)))


def missing(base):
    return (("file", uuid_of(n, spread=True), f"{base}/d{n % 1000}", f"file{n}.bin", "1") for n in range(1000000))


write_job(missing_job, missing(f"{root}/nowhere"))
# A store root on a mount that is not there: nothing exists up to the root.
write_job(missing_root_job, missing("/nonexistent-store"))
PY

bench/compare.py "list_files, 100,000 files in 4 levels" "$runs" \
  "razadedezuzev=$program list_files $data/list.job" \
  "find -printf=find $tree -type f -printf '%s\t%P\n' > $data/find.out"

bench/compare.py "test_file_existence, 100,000 records (half missing)" "$runs" \
  "razadedezuzev=$program test_file_existence $data/exists.job" \
  "find -printf=find $tree -type f -printf '%s\t%P\n' > $data/find2.out"

# The script a user would write instead: split each record, test the file.
bench/compare.py "test_file_existence, 1,000,000 records (all missing files)" "$runs" \
  "razadedezuzev=$program test_file_existence $data/missing.job" \
  "perl one-liner=perl -F'\t' -lane 'print \$F[1] if -f \"\$F[2]/\$F[3]\"' $data/missing.job" \
  "awk (reading only)=awk -F'\t' '{n+=NF} END{print n}' $data/missing.job"

bench/compare.py "test_file_existence, 1,000,000 records below a directory missing up to /" "$runs" \
  "razadedezuzev=$program test_file_existence $data/missing-root.job" \
  "perl one-liner=perl -F'\t' -lane 'print \$F[1] if -f \"\$F[2]/\$F[3]\"' $data/missing-root.job"
