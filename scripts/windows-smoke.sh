#!/usr/bin/env bash
# Smoke run of the Windows build under Wine: cross-compiles the program with
# warnings as errors, builds (once) the 7-Zip engine for Windows and puts it
# beside the program, then runs all nine modes on the bundled samples the way
# a server does (job file, program, <job>.out, <job>.err, exit code). Each
# job runs on the Linux build too, and the Windows results must be the same
# apart from `\` for `/` and CR LF line ends. A few checks of Windows
# behaviour follow (system error texts, no overwriting, CR LF, a job path
# with non-ASCII characters).
#
#   scripts/windows-smoke.sh
#
# Everything lands in build-windows/: the program, the engine, the Linux
# reference build (build-windows/linux), the Wine prefix and the work folder
# (build-windows/smoke). Exit code 0 when everything matched, 1 otherwise.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build="$root/build-windows"
work="$build/smoke"
tab=$'\t'

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
if ! dpkg-query -W -f='${Status}' wine64 2>/dev/null | grep -q "install ok installed"; then
  echo "Installing: wine64"
  $sudo apt-get update -qq || exit 1
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq wine64 || exit 1
fi
scripts/setup.sh || exit 1  # what the Linux reference build needs

echo "=== building the engine, the Windows program and the Linux reference"
engine=$(scripts/windows-engine.sh "$build" | tail -1) || exit 1
# (A configured build folder keeps its toolchain; CMake would call the
# option unused.)
cmake -S . -B "$build" --no-warn-unused-cli -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
  -DRAZADEDEZUZEV_TESTS=OFF -DRAZADEDEZUZEV_WERROR=ON >/dev/null || exit 1
cmake --build "$build" -j2 --target razadedezuzev || exit 1
cmake -S . -B "$build/linux" -DRAZADEDEZUZEV_TESTS=OFF >/dev/null || exit 1
cmake --build "$build/linux" -j2 --target razadedezuzev >/dev/null || exit 1
cp "$engine" "$build/7z.dll"

# Wine: its own prefix under the build folder, its server kept alive for the
# whole run, and its locale UTF-8 so that non-ASCII arguments arrive intact.
export WINEDEBUG=-all WINEPREFIX="$build/wine-prefix" LC_ALL=C.UTF-8
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver
# Wine hides files whose names begin with a dot, Windows does not: without
# this a listing under Wine would leave out the dot-files that Windows lists.
"$wine" reg add 'HKCU\Software\Wine' /v ShowDotFiles /d Y /f >/dev/null 2>&1
"$wineserver" -p
trap '"$wineserver" -k 2>/dev/null' EXIT

rm -rf "$work"
for side in linux windows; do
  mkdir -p "$work/$side"
  cp -r samples/incoming "$work/$side/incoming"
  cp samples/sample.zip "$work/$side/sample.zip"
done

# The path of `relative` in the work folder of a side, as its jobs write it:
# a Windows path with a drive (Wine's Z: is /) or a POSIX path.
path_of() {
  local side=$1 relative=$2 full="$work/$1/$2"
  if [ "$side" = windows ]; then
    full="Z:$full"
    echo "${full//\//\\}"
  else
    echo "$full"
  fi
}

# run SIDE MODE JOB: runs the job of that side and leaves its exit code in
# JOB.rc.
run() {
  local side=$1 mode=$2 job=$3
  if [ "$side" = windows ]; then
    "$wine" "$build/razadedezuzev.exe" "$mode" "$(path_of windows "$job")" \
      >"$work/windows/$job.stdout"
  else
    "$build/linux/razadedezuzev" "$mode" "$(path_of linux "$job")" \
      >"$work/linux/$job.stdout"
  fi
  echo $? >"$work/$side/$job.rc"
}

write_jobs() {
  local side=$1 d="$work/$1"
  p() { path_of "$side" "$1"; }
  cat >"$d/list.job" <<JOB
dir_path${tab}$(p incoming)
JOB
  cat >"$d/exists.job" <<JOB
file${tab}9b1de0f4-2c7a-4e11-8d3b-5a6f0c9e7d21${tab}$(p incoming)${tab}report.txt${tab}1
file${tab}0c5e2a11-7d42-4f3b-9a8e-1b2c3d4e5f60${tab}$(p incoming)${tab}missing.pdf${tab}1
file${tab}5f3c9d20-1e6b-4a7c-8d2e-3f4a5b6c7d80${tab}$(p incoming/notes)${tab}readme.md${tab}1
JOB
  cat >"$d/store.job" <<JOB
input_base_dir_path${tab}$(p incoming)
file${tab}9b1de0f4-2c7a-4e11-8d3b-5a6f0c9e7d21${tab}report.txt${tab}$(p store)${tab}1
file${tab}5f3c9d20-1e6b-4a7c-8d2e-3f4a5b6c7d80${tab}data.csv${tab}$(p store)${tab}3
JOB
  cat >"$d/store_dirs.job" <<JOB
file${tab}0c5e2a11-7d42-4f3b-9a8e-1b2c3d4e5f60${tab}$(p incoming/notes)${tab}readme.md${tab}$(p store)${tab}1
JOB
  cat >"$d/restore.job" <<JOB
output_base_dir_path${tab}$(p restored)
file${tab}9b1de0f4-2c7a-4e11-8d3b-5a6f0c9e7d21${tab}report.txt${tab}$(p store)${tab}1
file${tab}5f3c9d20-1e6b-4a7c-8d2e-3f4a5b6c7d80${tab}tables/data.csv${tab}$(p store)${tab}3
file${tab}0c5e2a11-7d42-4f3b-9a8e-1b2c3d4e5f60${tab}notes/readme.md${tab}$(p store)${tab}1
JOB
  cat >"$d/zip.job" <<JOB
zip_file_path${tab}$(p sample.zip)
JOB
  cat >"$d/extract.job" <<JOB
zip_file_path${tab}$(p sample.zip)
output_base_dir_path${tab}$(p extracted)
file${tab}9b1de0f4-2c7a-4e11-8d3b-5a6f0c9e7d21${tab}report.txt${tab}report.txt
file${tab}0c5e2a11-7d42-4f3b-9a8e-1b2c3d4e5f60${tab}notes/readme.md${tab}docs/readme.md
JOB
  cat >"$d/zipstore.job" <<JOB
zip_file_path${tab}$(p sample.zip)
file${tab}9b1de0f4-2c7a-4e11-8d3b-5a6f0c9e7d21${tab}report.txt${tab}report.txt${tab}$(p zipstore)${tab}1
file${tab}5f3c9d20-1e6b-4a7c-8d2e-3f4a5b6c7d80${tab}data.csv${tab}data.csv${tab}$(p zipstore)${tab}3
JOB
}

# A side's file as the other side would write it: LF line ends, `/` as the
# separator and the side's work folder as <work>.
normalised() {
  local side=$1 file=$2 prefix
  prefix=$(path_of "$side" "")
  [ -f "$file" ] || { echo "(no file)"; return; }
  tr -d '\r' <"$file" | sed "s|${prefix//\\/\\\\}|<work>/|g" | sed 's|\\|/|g'
}

show() {
  local file=$1
  if [ -f "$file" ]; then
    echo "--- ${file#"$work"/} (CR shown as \\r)"
    sed 's/\r/\\r/g' "$file"
  fi
}

failures=()
summary=()

# Runs one mode on both sides and compares what a server would read.
smoke() {
  local mode=$1 job=$2 sort_lines=${3:-} w="$work/windows/$2" l="$work/linux/$2" verdict=same
  run linux "$mode" "$job"
  run windows "$mode" "$job"
  echo "=== $mode"
  echo "--- ${w#"$work"/} (tabs shown as ->)"
  sed 's/\t/ -> /g' "$w"
  show "$w.out"
  show "$w.err"
  echo "--- exit code: $(cat "$w.rc") (Linux: $(cat "$l.rc"))"
  local extension
  for extension in rc out err; do
    local wide linux
    wide=$(normalised windows "$w.$extension")
    linux=$(normalised linux "$l.$extension")
    if [ -n "$sort_lines" ]; then
      wide=$(sort <<<"$wide")
      linux=$(sort <<<"$linux")
    fi
    if [ "$wide" != "$linux" ]; then
      verdict="DIFFERS in .$extension"
      echo "!!! .$extension differs from the Linux build:"
      diff <(echo "$linux") <(echo "$wide") | sed 's/^/    /'
    fi
  done
  [ "$(cat "$w.rc")" = 0 ] || verdict="exit code $(cat "$w.rc"); $verdict"
  [ "$verdict" = same ] || failures+=("$mode: $verdict")
  summary+=("$(printf '%-56s exit %s  %s' "$mode" "$(cat "$w.rc")" "$verdict")")
  echo
}

# The files a run left, with their digests, as the other side lists them.
tree_of() {
  (cd "$work/$1" && find store restored extracted zipstore -type f -print0 2>/dev/null |
    sort -z | xargs -0 -r md5sum)
}

write_jobs linux
write_jobs windows
"$wine" cmd /c ver >/dev/null 2>&1  # the prefix exists before the first timed run

# The order of a directory's entries is the file system's (readdir on Linux,
# Wine's own listing on Windows): the listing is compared line by line, sorted.
smoke list_files list.job sorted
smoke test_file_existence exists.job
smoke batch_copy_to_resource_store store.job
smoke batch_copy_to_resource_store_from_multiple_directories store_dirs.job
smoke batch_copy_from_resource_store restore.job
smoke list_zip_entry zip.job
smoke list_zip_entry_with_first_block zip.job
smoke extract_from_zip extract.job
smoke extract_from_zip_to_resource_store zipstore.job

echo "=== files written (store, restored, extracted, zipstore)"
tree_of windows
if [ "$(tree_of windows)" != "$(tree_of linux)" ]; then
  echo "!!! the files differ from those of the Linux build:"
  diff <(tree_of linux) <(tree_of windows) | sed 's/^/    /'
  failures+=("written files differ")
fi
leftovers=$(find "$work/windows" -name '.razadedezuzev-*')
if [ -n "$leftovers" ]; then
  echo "!!! temporary files left behind:"; echo "$leftovers"
  failures+=("temporary files left behind")
fi
echo

# ---- Checks of Windows behaviour ------------------------------------------

check() {
  local what=$1
  shift
  if "$@"; then
    summary+=("check: $what: ok")
  else
    summary+=("check: $what: FAILED")
    failures+=("check: $what")
  fi
}

# Every line of the file ends with CR LF.
has_crlf_lines() { [ -s "$1" ] && ! grep -q $'[^\r]$\|^$' "$1"; }

d="$work/windows"
echo "=== a source that does not exist"
cat >"$d/missing.job" <<JOB
input_base_dir_path${tab}$(path_of windows incoming)
file${tab}7e57e57e-0000-4000-8000-000000000001${tab}no-such-file.txt${tab}$(path_of windows store)${tab}1
JOB
run windows batch_copy_to_resource_store missing.job
show "$d/missing.job.err"
echo "--- exit code: $(cat "$d/missing.job.rc")"
# The system's own text for error 2 with its CR LF; the C runtime's text mode
# turns each LF into CR LF, so the system text's CR LF reaches the file as
# CR CR LF. Windows says "The system cannot find the file specified.", Wine
# "File not found.".
missing_source_reported() {
  local text='\(The system cannot find the file specified\.\|File not found\.\)'
  [ "$(cat "$d/missing.job.rc")" = 2 ] &&
    grep -q "^failed to open file: .*no-such-file.txt: $text"$'\r\r$' "$d/missing.job.err"
}
check "a missing source gives the system's text" missing_source_reported
check "the error file has CR LF line ends" has_crlf_lines "$d/missing.job.err"
check "the result file has CR LF line ends" has_crlf_lines "$d/store.job.out"
echo

echo "=== existing destinations are never overwritten"
stored=$(find "$d/store" -type f -name '9b1de0f4-*')
restored="$d/restored/report.txt"
echo "changed by hand" >"$stored"
echo "changed by hand" >"$restored"
run windows batch_copy_to_resource_store store.job
run windows batch_copy_from_resource_store restore.job
show "$d/store.job.out"
echo "--- exit codes: $(cat "$d/store.job.rc") $(cat "$d/restore.job.rc")"
kept_existing() {
  [ "$(cat "$d/store.job.rc")" = 0 ] && [ "$(cat "$d/restore.job.rc")" = 0 ] &&
    [ "$(cat "$stored")" = "changed by hand" ] && [ "$(cat "$restored")" = "changed by hand" ] &&
    # the digest is still that of the source
    grep -q "$(md5sum <"$d/incoming/report.txt" | cut -c1-32)" "$d/store.job.out"
}
check "an existing stored or restored file is left as it is" kept_existing
echo

echo "=== a job path with non-ASCII characters"
unicode_job="jöb-データ-ü.job"
cp "$d/list.job" "$d/$unicode_job"
run windows list_files "$unicode_job"
show "$d/$unicode_job.out"
echo "--- exit code: $(cat "$d/$unicode_job.rc")"
unicode_job_works() {
  [ "$(cat "$d/$unicode_job.rc")" = 0 ] && cmp -s "$d/$unicode_job.out" "$d/list.job.out"
}
check "a job path with non-ASCII characters" unicode_job_works
echo

echo "=== a dot-file is listed, a hidden file is not"
touch "$d/incoming/.dotfile"
hidden=$(path_of windows incoming/hidden.txt)
"$wine" cmd /c "echo x> $hidden && attrib +h $hidden" >/dev/null 2>&1
run windows list_files list.job
show "$d/list.job.out"
dot_file_listed_hidden_not() {
  [ -f "$d/incoming/hidden.txt" ] && grep -q $'\t.dotfile\r$' "$d/list.job.out" &&
    ! grep -q 'hidden.txt' "$d/list.job.out"
}
check "a dot-file is listed, a hidden file is not" dot_file_listed_hidden_not
echo

echo "=== summary"
printf '%s\n' "${summary[@]}"
if [ ${#failures[@]} -gt 0 ]; then
  echo "FAILED: ${#failures[@]}"
  printf '  %s\n' "${failures[@]}"
  exit 1
fi
echo "all modes and checks passed"
