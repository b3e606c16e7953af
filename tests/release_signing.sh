#!/usr/bin/env bash
# release/sign.sh with a throwaway code-signing certificate: both DLLs signed from a
# PFX (password from a file, then from the environment) verify against it, keep a
# right PE checksum and sign to the same bytes twice; a wrong password signs
# nothing; one flipped byte fails verification.
#   release_signing.sh DLL64 DLL32 WORK
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dll64=$(realpath "$1") dll32=$(realpath "$2") work=$3 epoch=1765000000 fails=0
rm -rf "$work"; mkdir -p "$work"; cd "$work"
fail() { echo "FAIL: $*" >&2; fails=$((fails + 1)); }
openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out cert.pem -days 2 -subj "/CN=WDX throwaway signer" \
  -addext extendedKeyUsage=codeSigning -addext keyUsage=digitalSignature 2>/dev/null
printf 'pfx pass\n' > pass
openssl pkcs12 -export -inkey key.pem -in cert.pem -out signer.pfx -passout file:pass
checksum_right() { python3 -c 'import sys; sys.path.insert(0, sys.argv[1]); import pack
stored, computed = pack.pe_checksum(open(sys.argv[2], "rb").read()); sys.exit(stored != computed)' "$root/release" "$1"; }

for dll in "$dll64" "$dll32"; do
  base=$(basename "$(dirname "$(dirname "$dll")")")-$(basename "$dll")
  cp "$dll" "$base"; cp "$dll" "$base.env"; cp "$dll" "$base.wrong"
  WDX_SIGN_PFX=signer.pfx WDX_SIGN_PASS_FILE=pass "$root/release/sign.sh" "$epoch" "$base"
  WDX_SIGN_PFX=signer.pfx WDX_SIGN_PASS='pfx pass' "$root/release/sign.sh" "$epoch" "$base.env"
  out=$(osslsigncode verify -CAfile cert.pem -in "$base" 2>&1) || fail "$base: does not verify: $out"
  grep -q 'Signing time: Dec  6 05:46:40 2025 GMT' <<<"$out" || fail "$base: the signing time is not the release's"
  grep -q 'Message digest algorithm  : SHA256' <<<"$out" || fail "$base: not SHA-256"
  checksum_right "$base" || fail "$base: the PE checksum does not match the signed bytes"
  cmp -s "$base" "$base.env" || fail "$base: the password from the environment signs other bytes"
  if WDX_SIGN_PFX=signer.pfx WDX_SIGN_PASS=wrong "$root/release/sign.sh" "$epoch" "$base.wrong" 2>/dev/null; then
    fail "$base: signed with a wrong password"
  fi
  cmp -s "$dll" "$base.wrong" || fail "$base: a failed signing changed the file"
  # One byte of the code (the first section's first byte) flipped.
  at=$(python3 -c 'import struct, sys; b = open(sys.argv[1], "rb").read(); pe = struct.unpack_from("<I", b, 0x3C)[0]
opt = struct.unpack_from("<H", b, pe + 20)[0]; print(struct.unpack_from("<I", b, pe + 24 + opt + 20)[0])' "$base")
  cp "$base" "$base.flipped"
  printf "$(printf '\\%03o' $(( $(od -An -tu1 -j "$at" -N1 "$base" | tr -d ' ') ^ 1 )))" |
    dd of="$base.flipped" bs=1 seek="$at" conv=notrunc status=none
  if osslsigncode verify -CAfile cert.pem -in "$base.flipped" >/dev/null 2>&1; then
    fail "$base: verifies with a flipped byte at $at"
  fi
  echo "$base: signed, verified, checksum right; flipped byte at $at fails verification"
done
[ "$fails" -eq 0 ]
