#!/usr/bin/env bash
# Fails unless a shared library exports exactly the C interface: on ELF every
# defined dynamic symbol, on PE every name of the export table.
#   capi/check-exports.sh <objdump> <library> [expected SONAME]
set -euo pipefail
objdump=$1 lib=$2 soname=${3:-}

expected="palavox_error_description
palavox_find_string
palavox_find_string_utf8
palavox_free
palavox_remover_acentuacao
palavox_remover_acentuacao_utf8
palavox_trata_html
palavox_trata_html_utf8
palavox_version"

headers=$("$objdump" -p "$lib")
if grep -q 'Export Address Table' <<<"$headers"; then
  exported=$(sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$headers" |
             sed -n 's/^[[:space:]]*\[[[:space:]]*[0-9]*\][[:space:]]*\([^[:space:]]*\).*/\1/p' | sort)
else
  # Defined dynamic symbols: not *UND*; the name is the last field.
  exported=$("$objdump" -T "$lib" | awk '$0 !~ /\*UND\*/ && NF >= 6 && $2 ~ /^[gwu]/ {print $NF}' | sort)
  if [ -n "$soname" ]; then
    actual=$(awk '$1 == "SONAME" {print $2}' <<<"$headers")
    if [ "$actual" != "$soname" ]; then
      echo "check-exports: $lib has SONAME '$actual', expected '$soname'" >&2
      exit 1
    fi
  fi
fi

if [ "$exported" != "$expected" ]; then
  echo "check-exports: $lib exports other than the C interface:" >&2
  diff <(echo "$expected") <(echo "$exported") >&2 || true
  exit 1
fi
echo "check-exports: $(basename "$lib"): $(wc -l <<<"$exported") palavox_* exports${soname:+, SONAME $soname}"
