#!/usr/bin/env bash
# Signs one Windows binary in place (Authenticode, osslsigncode) with the
# release's key, named in the environment:
#
#   HV_SIGN_CERT           the code-signing certificate (PEM)
#   HV_SIGN_KEY            its key: a PEM file (encrypted or not), or a
#                          pkcs11: URI of a key in a token (hardware keys)
#   HV_SIGN_PKCS11_MODULE  the token's PKCS#11 module (with a pkcs11: key)
#   HV_SIGN_PASS_FILE      a file whose first line is the token's PIN or
#                          the PEM key's passphrase
#   HV_SIGN_PASS           the same, from the environment, when no file is
#                          named
#   HV_SIGN_TSA            an RFC 3161 time-stamp server's URL
#
#   sign_pe.sh FILE        exit 0 signed, 2 refused (nothing changed), 1
#                          signing failed
#   sign_pe.sh --check     checks the settings only (exit 0 or 2)
#
# The PIN or passphrase never reaches a command line, where every account
# of the machine can read it (/proc/PID/cmdline): osslsigncode reads it
# from a file (-readpass), and a pkcs11: URI that carries it (pin-value=)
# is refused. HV_SIGN_PASS is written to a file only this account can read,
# removed when done.
#
# The signing time is the time of signing, never the release's time stamp:
# a signature dated before its certificate existed, or after it expired,
# would claim what is not so. A certificate that is not valid now is
# refused. With a time-stamp server the time is counter-signed and the
# signature outlives the certificate; without one it verifies only while
# the certificate is valid (said on standard error). Signed files therefore
# differ from run to run: a rebuild is compared with them once their
# signatures are removed (README, "Verifying a release"). Unsigned builds
# stay reproducible.
set -euo pipefail
file=$1
refuse() { echo "sign_pe: $1" >&2; exit 2; }

cert=${HV_SIGN_CERT:?HV_SIGN_CERT names no certificate}
key=${HV_SIGN_KEY:?HV_SIGN_KEY names no key}
module=()
if [[ $key == pkcs11:* ]]; then
  [[ $key != *pin-value=* ]] ||
    refuse "the pkcs11: URI carries the PIN (pin-value=), which would reach a command line: put it in HV_SIGN_PASS_FILE"
  module=(-pkcs11module "${HV_SIGN_PKCS11_MODULE:?a pkcs11: key needs HV_SIGN_PKCS11_MODULE}")
fi

now=$(date +%s)
openssl x509 -noout -in "$cert" >/dev/null 2>&1 || refuse "cannot read $cert as a PEM certificate"
not_before=$(date -d "$(openssl x509 -noout -startdate -in "$cert" | cut -d= -f2-)" +%s)
not_after=$(date -d "$(openssl x509 -noout -enddate -in "$cert" | cut -d= -f2-)" +%s)
[ "$now" -ge "$not_before" ] || refuse "$cert is not valid before $(date -u -d "@$not_before")"
[ "$now" -lt "$not_after" ] || refuse "$cert expired $(date -u -d "@$not_after")"

secret=()
private=""
trap '[ -z "$private" ] || rm -rf "$private"' EXIT
if [ -n "${HV_SIGN_PASS_FILE:-}" ]; then
  [ -f "$HV_SIGN_PASS_FILE" ] && [ -r "$HV_SIGN_PASS_FILE" ] || refuse "cannot read HV_SIGN_PASS_FILE"
  secret=(-readpass "$HV_SIGN_PASS_FILE")
elif [ -n "${HV_SIGN_PASS:-}" ]; then
  private=$(umask 077 && mktemp -d)
  printf '%s\n' "$HV_SIGN_PASS" > "$private/pass"  # printf is a builtin: no command line
  secret=(-readpass "$private/pass")
fi

[ "$file" != --check ] || exit 0

stamp=()
if [ -n "${HV_SIGN_TSA:-}" ]; then
  stamp=(-ts "$HV_SIGN_TSA")
else
  echo "sign_pe: no time-stamp server (HV_SIGN_TSA): the signature of $(basename "$file") verifies only until $(date -u -d "@$not_after")" >&2
fi

osslsigncode sign -certs "$cert" "${module[@]}" -key "$key" "${secret[@]}" -h sha256 -n HvVerifySp \
  "${stamp[@]}" -in "$file" -out "$file.signed" >/dev/null </dev/null || { rm -f "$file.signed"; exit 1; }
mv -f "$file.signed" "$file"
