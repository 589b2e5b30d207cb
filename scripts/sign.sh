#!/usr/bin/env bash
# Authenticode-signs the files named (Palavox.dll, the MSI packages) in place,
# SHA-256, with osslsigncode, when the environment holds a certificate:
#   PALAVOX_SIGN_PFX             the PKCS#12 file with the key and its chain
#   PALAVOX_SIGN_PASSWORD        its password (may be empty, but must be set)
#   PALAVOX_SIGN_TIMESTAMP_URL   optional: an RFC 3161 time-stamping service
# Without PALAVOX_SIGN_PFX it changes nothing. A file already signed is signed
# afresh, its old signature replaced.
#   scripts/sign.sh FILE...
set -euo pipefail

[ -n "${PALAVOX_SIGN_PFX:-}" ] || exit 0
if [ -z "${PALAVOX_SIGN_PASSWORD+set}" ]; then
  echo "sign: PALAVOX_SIGN_PFX is set but PALAVOX_SIGN_PASSWORD is not; nothing signed" >&2
  exit 1
fi
[ -f "$PALAVOX_SIGN_PFX" ] || { echo "sign: no such file: $PALAVOX_SIGN_PFX" >&2; exit 1; }
timestamp=()
if [ -n "${PALAVOX_SIGN_TIMESTAMP_URL:-}" ]; then
  timestamp=(-ts "$PALAVOX_SIGN_TIMESTAMP_URL")
fi

for file in "$@"; do
  # The password goes through a pipe, never the command line others can read.
  if ! osslsigncode sign -pkcs12 "$PALAVOX_SIGN_PFX" -readpass <(printf '%s' "$PALAVOX_SIGN_PASSWORD") \
       -h sha256 -n Palavox "${timestamp[@]}" -in "$file" -out "$file.signing" >"$file.signing.log" 2>&1; then
    echo "sign: $file could not be signed:" >&2
    cat "$file.signing.log" >&2
    rm -f "$file.signing" "$file.signing.log"
    exit 1
  fi
  mv "$file.signing" "$file"
  rm -f "$file.signing.log"
  echo "sign: $file"
done
