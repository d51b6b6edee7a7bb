#!/usr/bin/env bash
# Builds the program and runs it on the bundled sample data, the way a server
# does: write a job file, start the program, read <job>.out, <job>.err and the
# exit code.
set -uo pipefail
cd "$(dirname "$0")/.."
# --windows: the same nine modes on the Windows build under Wine, each result
# compared with the Linux build's.
[ "${1:-}" = "--windows" ] && exec scripts/windows-smoke.sh
# RAZADEDEZUZEV_PROGRAM: run that program (an installed one, say) instead of
# building build/razadedezuzev; RAZADEDEZUZEV_DEMO_DIR: work there, not in build/demo.
if [ -z "${RAZADEDEZUZEV_PROGRAM:-}" ]; then
  scripts/setup.sh || exit 1
  cmake -S . -B build -DRAZADEDEZUZEV_TESTS=ON >/dev/null || exit 1
  cmake --build build -j"$(nproc)" --target razadedezuzev >/dev/null || exit 1
fi

program="${RAZADEDEZUZEV_PROGRAM:-$PWD/build/razadedezuzev}"
work="${RAZADEDEZUZEV_DEMO_DIR:-$PWD/build/demo}"
rm -rf "$work" && mkdir -p "$work"
cp -r samples/incoming "$work/incoming"
tab=$'\t'

# run MODE JOBNAME: shows the job, runs it, shows what the server would read.
run() {
  local mode=$1 job="$work/$2"
  echo "=== $mode"
  echo "--- job file $job (tabs shown as ->)"
  sed 's/\t/ -> /g' "$job"
  "$program" "$mode" "$job"
  echo "--- exit code: $?"
  echo "--- $2.out"
  [ -f "$job.out" ] && cat "$job.out"
  if [ -f "$job.err" ]; then echo "--- $2.err"; cat "$job.err"; fi
  echo
}

cat > "$work/list.job" <<JOB
dir_path${tab}$work/incoming
JOB
run list_files list.job

cat > "$work/exists.job" <<JOB
file${tab}9b1de0f4-2c7a-4e11-8d3b-5a6f0c9e7d21${tab}$work/incoming${tab}report.txt${tab}1
file${tab}0c5e2a11-7d42-4f3b-9a8e-1b2c3d4e5f60${tab}$work/incoming${tab}missing.pdf${tab}1
file${tab}5f3c9d20-1e6b-4a7c-8d2e-3f4a5b6c7d80${tab}$work/incoming/notes${tab}readme.md${tab}1
JOB
run test_file_existence exists.job

cat > "$work/store.job" <<JOB
input_base_dir_path${tab}$work/incoming
file${tab}9b1de0f4-2c7a-4e11-8d3b-5a6f0c9e7d21${tab}report.txt${tab}$work/store${tab}1
file${tab}5f3c9d20-1e6b-4a7c-8d2e-3f4a5b6c7d80${tab}data.csv${tab}$work/store${tab}3
JOB
run batch_copy_to_resource_store store.job

cat > "$work/store_dirs.job" <<JOB
file${tab}0c5e2a11-7d42-4f3b-9a8e-1b2c3d4e5f60${tab}$work/incoming/notes${tab}readme.md${tab}$work/store${tab}1
JOB
run batch_copy_to_resource_store_from_multiple_directories store_dirs.job

cat > "$work/restore.job" <<JOB
output_base_dir_path${tab}$work/restored
file${tab}9b1de0f4-2c7a-4e11-8d3b-5a6f0c9e7d21${tab}report.txt${tab}$work/store${tab}1
file${tab}5f3c9d20-1e6b-4a7c-8d2e-3f4a5b6c7d80${tab}tables/data.csv${tab}$work/store${tab}3
file${tab}0c5e2a11-7d42-4f3b-9a8e-1b2c3d4e5f60${tab}notes/readme.md${tab}$work/store${tab}1
JOB
run batch_copy_from_resource_store restore.job
echo "=== files now in $work/store and $work/restored"
(cd "$work" && find store restored -type f | sort)
echo

cp samples/sample.zip "$work/sample.zip"
cat > "$work/zip.job" <<JOB
zip_file_path${tab}$work/sample.zip
JOB
run list_zip_entry zip.job
run list_zip_entry_with_first_block zip.job

cat > "$work/extract.job" <<JOB
zip_file_path${tab}$work/sample.zip
output_base_dir_path${tab}$work/extracted
file${tab}9b1de0f4-2c7a-4e11-8d3b-5a6f0c9e7d21${tab}report.txt${tab}report.txt
file${tab}0c5e2a11-7d42-4f3b-9a8e-1b2c3d4e5f60${tab}notes/readme.md${tab}docs/readme.md
JOB
run extract_from_zip extract.job

cat > "$work/zipstore.job" <<JOB
zip_file_path${tab}$work/sample.zip
file${tab}9b1de0f4-2c7a-4e11-8d3b-5a6f0c9e7d21${tab}report.txt${tab}report.txt${tab}$work/zipstore${tab}1
file${tab}5f3c9d20-1e6b-4a7c-8d2e-3f4a5b6c7d80${tab}data.csv${tab}data.csv${tab}$work/zipstore${tab}3
JOB
run extract_from_zip_to_resource_store zipstore.job
echo "=== files now in $work/extracted and $work/zipstore"
(cd "$work" && find extracted zipstore -type f | sort)
