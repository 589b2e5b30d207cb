#!/usr/bin/env bash
# scripts/sign.sh, as make dll and make package run it, on copies of the files
# named (both DLLs, both packages), with a code-signing certificate made here
# by a throwaway CA; osslsigncode verify trusts that CA alone.
#   tests/package/signing-test.sh FILE...
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$root/build/signing-test
files=()
for file in "$@"; do
  [ -f "$file" ] || { echo "signing-test: missing $file"; exit 2; }
  files+=("$(realpath "$file")")
done
rm -rf "$work" && mkdir -p "$work"
cd "$work" || exit 1
passed=0
failed=0

check() {
  local what=$1
  shift
  if "$@" >>checks.log 2>&1; then
    passed=$((passed + 1))
  else
    echo "FAIL: $what"
    failed=$((failed + 1))
  fi
}

sign() { "$root/scripts/sign.sh" "$@"; }
verify() { osslsigncode verify -CAfile ca.pem -in "$1"; }
# A signature by our signer over a SHA-256 digest, trusted through the CA.
verified_sha256() {
  local out
  out=$(verify "$1") || { echo "$out"; return 1; }
  grep -qE '^Message digest algorithm +: SHA256$' <<<"$out" &&
    grep -q 'Subject: /CN=Palavox Throwaway Signer' <<<"$out" &&
    grep -q '^Number of verified signatures: 1$' <<<"$out"
}
fails() { ! "$@"; }
# Flips one byte of a copy at an offset the signature covers.
tampered() {
  cp "$1" "$2"
  local byte
  byte=$(od -An -tu1 -j "$3" -N1 "$2" | tr -d ' ')
  printf "\\$(printf '%03o' $(((byte + 1) % 256)))" | dd of="$2" bs=1 seek="$3" conv=notrunc 2>/dev/null
  ! cmp -s "$1" "$2"
}

# The throwaway CA, and the code-signing certificate it issues, as a
# password-protected PKCS#12 file. The password holds what a shell could mangle.
password='thrown "away" $HOME pass'
{
  openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 2 \
    -subj "/CN=Palavox Throwaway CA" -addext basicConstraints=critical,CA:TRUE \
    -addext keyUsage=critical,keyCertSign,cRLSign &&
  openssl req -newkey rsa:2048 -nodes -keyout signer.key -out signer.csr \
    -subj "/CN=Palavox Throwaway Signer" &&
  printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n' >signer.ext &&
  openssl x509 -req -in signer.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 \
    -extfile signer.ext -out signer.pem &&
  openssl pkcs12 -export -inkey signer.key -in signer.pem -certfile ca.pem \
    -passout pass:"$password" -out signer.pfx
} >openssl.log 2>&1 || { cat openssl.log; echo "signing-test: openssl failed"; exit 1; }

unset PALAVOX_SIGN_PFX PALAVOX_SIGN_PASSWORD PALAVOX_SIGN_TIMESTAMP_URL
n=0
for file in "${files[@]}"; do
  n=$((n + 1))
  name=$n-$(basename "$file")
  # Builds made while signing was on hand in signed files: start from unsigned ones.
  osslsigncode remove-signature -in "$file" -out "$name.original" >/dev/null 2>&1 ||
    cp "$file" "$name.original"
  check "$name: unsigned to begin with" fails verify "$name.original"

  cp "$name.original" "$name"
  check "$name: without a certificate nothing happens" sign "$name"
  check "$name: and the file is unchanged" cmp "$name.original" "$name"
  check "$name: a certificate without its password is refused" \
    fails env PALAVOX_SIGN_PFX=signer.pfx "$root/scripts/sign.sh" "$name"
  check "$name: and leaves the file unchanged" cmp "$name.original" "$name"
  check "$name: a wrong password is refused" fails env PALAVOX_SIGN_PFX=signer.pfx \
    PALAVOX_SIGN_PASSWORD=wrong "$root/scripts/sign.sh" "$name"
  check "$name: and leaves the file unchanged" cmp "$name.original" "$name"

  check "$name: signs" env PALAVOX_SIGN_PFX=signer.pfx PALAVOX_SIGN_PASSWORD="$password" \
    "$root/scripts/sign.sh" "$name"
  check "$name: verifies, SHA-256, by our signer" verified_sha256 "$name"
  check "$name: signing again replaces the signature" env PALAVOX_SIGN_PFX=signer.pfx \
    PALAVOX_SIGN_PASSWORD="$password" "$root/scripts/sign.sh" "$name"
  check "$name: which still verifies, alone" verified_sha256 "$name"
  check "$name: not trusted without the throwaway CA" \
    fails osslsigncode verify -CAfile /etc/ssl/certs/ca-certificates.crt -in "$name"

  # In a PE file the code starts at 0x400 at the latest; in a package the
  # cabinet holding the DLLs starts at its "MSCF".
  case $file in
  *.msi) offset=$(($(grep -obUaF MSCF "$name" | head -n 1 | cut -d: -f1) + 100)) ;;
  *) offset=$((0x600)) ;;
  esac
  check "$name: a copy with one byte changed" tampered "$name" "$name.tampered" "$offset"
  check "$name: fails verification" fails verify "$name.tampered"
done

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ] && [ "$n" -gt 0 ]
