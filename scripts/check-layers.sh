#!/usr/bin/env bash
# Fails when a source file includes from a layer above its own, or when an
# operating-system header is included outside src/platform/.
#
# Layers, lowest first; a folder may include its own headers and those of the
# layers its row lists:
#   platform  (nothing)
#   base      platform
#   job       base platform
#   store     base platform
#   transfer  base platform
#   zip       transfer base platform
#   modes     zip store transfer job base platform
#   app       modes job base platform
set -euo pipefail
cd "$(dirname "$0")/../src"

declare -A allowed=(
  [platform]="platform"
  [base]="base platform"
  [job]="job base platform"
  [store]="store base platform"
  [transfer]="transfer base platform"
  [zip]="zip transfer base platform"
  [modes]="modes zip store transfer job base platform"
  [app]="app modes job base platform"
)

# Headers that only the platform layer may include: the systems' own APIs
# and the libraries that stand in for them.
os_headers='<(unistd|fcntl|dirent|dlfcn|iconv|locale|limits|pthread|windows|winbase|shlobj|wincrypt|io|direct|sys/[a-z_]+|openssl/[a-z_]+)\.h>'

failures=0
while IFS= read -r file; do
  layer=${file%%/*}
  if [ -z "${allowed[$layer]+set}" ]; then
    echo "$file: not in a known layer"; failures=$((failures + 1)); continue
  fi
  while IFS= read -r line; do
    included=$(sed -E 's/^#include "([^/"]+)\/.*/\1/' <<<"$line")
    if [[ " ${allowed[$layer]} " != *" $included "* ]]; then
      echo "$file: $layer may not include $line"; failures=$((failures + 1))
    fi
  done < <(grep -E '^#include "[^"]+/' "$file" || true)
  if [ "$layer" != platform ] && grep -qE "^#include $os_headers" "$file"; then
    echo "$file: operating-system header outside platform/: $(grep -E "^#include $os_headers" "$file" | head -1)"
    failures=$((failures + 1))
  fi
done < <(find . -name '*.h' -o -name '*.cpp' | sed 's|^\./||' | sort)

if [ "$failures" -gt 0 ]; then
  echo "layering check: $failures violation(s)"; exit 1
fi
echo "layering check: every include runs downwards"
