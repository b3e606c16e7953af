#!/usr/bin/env bash
# Signs PE files in place with Authenticode (SHA-256) through osslsigncode.
#   sign.sh EPOCH FILE...
# The key, from the environment (never on a command line, where other users see it):
#   WDX_SIGN_PFX=FILE          a PKCS#12 file with the key and its certificate chain, or
#   WDX_SIGN_PKCS11_MODULE=SO  a PKCS#11 token's module (e.g. a smart card's or an HSM's),
#     WDX_SIGN_KEY=URI         the key on it (pkcs11:...), WDX_SIGN_CERTS=FILE its
#                              certificate chain (PEM), WDX_SIGN_PKCS11_ENGINE=SO the
#                              OpenSSL engine when osslsigncode needs it named
#   WDX_SIGN_PASS_FILE=FILE    the PFX password or token PIN, read from the file, or
#   WDX_SIGN_PASS=TEXT         the same from the environment (handed over through a pipe)
#   WDX_SIGN_TS=URL            an RFC 3161 time-stamp server; without one the signing
#                              time is EPOCH, so the same release signs to the same bytes
set -euo pipefail
epoch=$1; shift
command -v osslsigncode >/dev/null || { echo "sign.sh: osslsigncode is not installed" >&2; exit 1; }
if [ -n "${WDX_SIGN_PFX:-}" ]; then
  key=(-pkcs12 "$WDX_SIGN_PFX")
elif [ -n "${WDX_SIGN_PKCS11_MODULE:-}" ]; then
  [ -n "${WDX_SIGN_KEY:-}" ] && [ -n "${WDX_SIGN_CERTS:-}" ] ||
    { echo "sign.sh: a PKCS#11 token needs WDX_SIGN_KEY and WDX_SIGN_CERTS" >&2; exit 1; }
  key=(-pkcs11module "$WDX_SIGN_PKCS11_MODULE" -key "$WDX_SIGN_KEY" -certs "$WDX_SIGN_CERTS")
  [ -n "${WDX_SIGN_PKCS11_ENGINE:-}" ] && key+=(-pkcs11engine "$WDX_SIGN_PKCS11_ENGINE")
else
  echo "sign.sh: name the key: WDX_SIGN_PFX, or WDX_SIGN_PKCS11_MODULE with WDX_SIGN_KEY" >&2; exit 1
fi
when=(-time "$epoch")
[ -n "${WDX_SIGN_TS:-}" ] && when=(-ts "$WDX_SIGN_TS")
for f in "$@"; do
  pass=()
  if [ -n "${WDX_SIGN_PASS_FILE:-}" ]; then
    pass=(-readpass "$WDX_SIGN_PASS_FILE")
  elif [ -n "${WDX_SIGN_PASS+set}" ]; then
    exec 3< <(printf '%s' "$WDX_SIGN_PASS")
    pass=(-readpass /dev/fd/3)
  fi
  rm -f "$f.signed"
  if ! out=$(osslsigncode sign -h sha256 "${key[@]}" "${pass[@]}" -n WDXPatchAgent "${when[@]}" \
      -in "$f" -out "$f.signed" 2>&1); then
    rm -f "$f.signed"; printf 'sign.sh: %s could not be signed:\n%s\n' "$f" "$out" >&2; exit 1
  fi
  [ "${#pass[@]}" -gt 0 ] && [ "${pass[1]}" = /dev/fd/3 ] && exec 3<&-
  mv "$f.signed" "$f"
done
