#!/usr/bin/env bash
# Signs one Windows program with Authenticode (osslsigncode, SHA-256) and verifies the result.
#   OSKEL_SIGN_PKCS12=FILE OSKEL_SIGN_PASSWORD=TEXT [OSKEL_SIGN_TIMESTAMP_URL=URL] \
#     tools/sign.sh UNSIGNED.exe SIGNED.exe
#
# Signing appends the signature and fills in the two header fields that point at it (checksum
# and certificate table); every other byte stays as built. The signature is checked twice: against
# this machine's trusted roots (a certificate from a public code-signing authority passes), and
# against the certificates the signature carries, which proves it intact over the file's bytes
# even where its chain is not trusted here (a self-signed or company certificate).
set -euo pipefail
unsigned=$1
signed=$2
die() { printf 'sign: %s\n' "$*" >&2; exit 1; }
[[ -n "${OSKEL_SIGN_PKCS12:-}" ]] || die "OSKEL_SIGN_PKCS12 is not set"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

description="Oskel Controller Update"  # shown as the signature's description
options=(-pkcs12 "$OSKEL_SIGN_PKCS12" -readpass /dev/stdin -h sha256 -n "$description")
if [[ -n "${OSKEL_SIGN_TIMESTAMP_URL:-}" ]]; then
  options+=(-ts "$OSKEL_SIGN_TIMESTAMP_URL")
fi
rm -f "$signed"
# The password goes through a pipe, never on a command line.
if ! printf '%s' "${OSKEL_SIGN_PASSWORD:-}" |
    osslsigncode sign "${options[@]}" -in "$unsigned" -out "$signed" >"$work/sign.log" 2>&1; then
  cat "$work/sign.log" >&2
  rm -f "$signed"
  die "signing $unsigned with $OSKEL_SIGN_PKCS12 failed"
fi

if osslsigncode verify -in "$signed" >"$work/trusted.log" 2>&1; then
  echo "sign: $signed: signature verified, certificate chain trusted"
  exit 0
fi
osslsigncode extract-signature -pem -in "$signed" -out "$work/signature.pem" >/dev/null 2>&1 ||
  die "$signed: no signature to extract"
openssl pkcs7 -print_certs -in "$work/signature.pem" -out "$work/certificates.pem" ||
  die "$signed: the signature's certificates cannot be read"
if ! osslsigncode verify -CAfile "$work/certificates.pem" -in "$signed" >"$work/intact.log" 2>&1; then
  cat "$work/trusted.log" "$work/intact.log" >&2
  rm -f "$signed"
  die "$signed: the signature does not verify"
fi
reason="$(sed -n 's/.*[Ee]rror: //p' "$work/trusted.log" | head -n 1)"  # the last "error: " of the first error line
echo "sign: $signed: signature intact; certificate chain not trusted here (${reason:-untrusted root})"
