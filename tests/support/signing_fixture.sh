#!/usr/bin/env bash
# Throwaway signing keys for the package suite, in FOLDER:
#   cert.pem, key.pem   a code-signing certificate and its RSA key (PEM)
#   softhsm2.conf       a SoftHSM token "hvsign" holding that key as
#   pkcs11-uri          object "sign" (the URI, without its PIN)
#   pin                 the token's PIN (HV_SIGN_PASS_FILE)
#   bin/                wrappers of osslsigncode and gpg that record their
#                       arguments in argv.log, for `check`
#   gnupg/, gpg-key     an OpenPGP signing key (GNUPGHOME, fingerprint)
#   release-key.asc     its public key, to verify SHA256SUMS.asc with
#   url, tsa-ca.pem     an RFC 3161 time-stamp server on loopback
#                       (tsa_server.py) and its certificate; pid its process
#
#   signing_fixture.sh start FOLDER | stop FOLDER
#   signing_fixture.sh check FOLDER   the signing tools ran, and the PIN
#                                     reached none of their command lines
set -euo pipefail
action=$1
folder=$(mkdir -p "$2" && cd "$2" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
if [ "$action" = stop ]; then
  [ -f "$folder/pid" ] && kill "$(cat "$folder/pid")" 2>/dev/null || true
  rm -f "$folder/pid"
  [ -d "$folder/gnupg" ] && GNUPGHOME=$folder/gnupg gpgconf --kill gpg-agent 2>/dev/null || true
  exit 0
fi
if [ "$action" = check ]; then
  [ -s "$folder/argv.log" ] && grep -q '^osslsigncode ' "$folder/argv.log" ||
    { echo "FAILED osslsigncode did not run through the recording wrapper"; exit 1; }
  if grep -qF -- "$(cat "$folder/pin")" "$folder/argv.log"; then
    echo "FAILED the token's PIN reached a command line"; exit 1
  fi
  echo "ok     the token's PIN on no command line ($(grep -c . "$folder/argv.log") signing commands recorded)"
  exit 0
fi
cd "$folder"
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=HvVerifySp test signing" \
  -addext extendedKeyUsage=codeSigning -keyout key.pem -out cert.pem 2>/dev/null
mkdir -p tokens
printf 'directories.tokendir = %s/tokens\nobjectstore.backend = file\nlog.level = ERROR\n' "$folder" > softhsm2.conf
export SOFTHSM2_CONF=$folder/softhsm2.conf
# A PIN found nowhere else, so that the check finds it if it leaks.
echo "hvsign-$(openssl rand -hex 8)" > pin
softhsm2-util --init-token --free --label hvsign --pin "$(cat pin)" --so-pin 12345678 >/dev/null
openssl pkcs8 -topk8 -nocrypt -in key.pem -out key.p8
softhsm2-util --import key.p8 --token hvsign --label sign --id 01 --pin "$(cat pin)" >/dev/null
rm key.p8
echo "pkcs11:token=hvsign;object=sign;type=private" > pkcs11-uri
mkdir -p bin
rm -f argv.log
for tool in osslsigncode gpg; do
  printf '#!/bin/sh
printf "%%s\\n" "%s $*" >> %s/argv.log
exec %s "$@"
' \
    "$tool" "$folder" "$(command -v $tool)" > bin/$tool
  chmod 755 bin/$tool
done
mkdir -p -m 700 gnupg
export GNUPGHOME=$folder/gnupg
gpg --batch --passphrase '' --quick-gen-key "HvVerifySp test release <release@example.org>" ed25519 sign 1d 2>/dev/null
gpg --batch --with-colons --list-secret-keys | awk -F: '$1 == "fpr" {print $10; exit}' > gpg-key
gpg --batch --armor --export "$(cat gpg-key)" > release-key.asc
/usr/bin/python3 "$here/tsa_server.py" "$folder" >/dev/null 2>&1 &
echo $! > pid
for _ in $(seq 50); do [ -s url ] && break; sleep 0.1; done
[ -s url ] || { echo "signing_fixture: the time-stamp server did not start" >&2; exit 1; }
