#!/usr/bin/env bash
# Fails, naming them, when the archives need any symbol that they do not define themselves and
# that is not one of the allowed C functions.
#   musl_symbols_test.sh "ALLOWED..." ARCHIVE...
set -euo pipefail
allowed=$1
shift
status=0
for archive in "$@"; do
  defined=$(nm --defined-only --format=just-symbols "$archive" | sort -u)
  needed=$(nm --undefined-only --format=just-symbols "$archive" | sort -u)
  outside=$(comm -23 <(echo "$needed") <(echo "$defined") |
    comm -23 - <(tr ' ;' '\n\n' <<<"$allowed" | sort -u) | grep . || true)
  if [ -n "$outside" ]; then
    echo "FAIL: $(basename "$archive") needs symbols outside the C functions allowed for musl:"
    sed 's/^/  /' <<<"$outside" | c++filt
    echo "  (the musl programs have no libstdc++: use header-only C++ or a C function)"
    status=1
  else
    echo "$(basename "$archive"): $(wc -l <<<"$needed") symbols needed, all defined or allowed"
  fi
done
exit $status
