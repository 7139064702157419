#!/usr/bin/python3
"""sign_pe.sh signs with today's keys and never leaks their secrets: a
token's PIN and a PEM key's passphrase reach osslsigncode through a file,
never its command line (a wrapper records every argument it is given); a
PIN inside the pkcs11: URI is refused; an encrypted PEM key signs with its
passphrase from a file or the environment; without a time-stamp server the
signature is dated now (not the release's time stamp, a month before the
certificate) and verifies, and a certificate not valid now is refused.
Throwaway keys: a SoftHSM token and PEM files made here."""
import datetime
import os
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
PIN = "4731-hvsign-token-pin"
PASSPHRASE = "hvsign-pem-passphrase-9035"


def run(args, **kw):
    return subprocess.run(args, capture_output=True, text=True, **kw)


def certificate(work, name, start_days, end_days):
    """A code-signing certificate valid from now + start_days to now +
    end_days, and its unencrypted key, as NAME.pem and NAME-key.pem."""
    from cryptography import x509
    from cryptography.hazmat.primitives import hashes, serialization
    from cryptography.hazmat.primitives.asymmetric import rsa
    from cryptography.x509.oid import ExtendedKeyUsageOID, NameOID
    key = rsa.generate_private_key(public_exponent=65537, key_size=2048)
    subject = x509.Name([x509.NameAttribute(NameOID.COMMON_NAME, "HvVerifySp test signing " + name)])
    now = datetime.datetime.utcnow()
    cert = (x509.CertificateBuilder().subject_name(subject).issuer_name(subject).public_key(key.public_key())
            .serial_number(x509.random_serial_number())
            .not_valid_before(now + datetime.timedelta(days=start_days))
            .not_valid_after(now + datetime.timedelta(days=end_days))
            .add_extension(x509.ExtendedKeyUsage([ExtendedKeyUsageOID.CODE_SIGNING]), critical=False)
            .sign(key, hashes.SHA256()))
    with open(os.path.join(work, name + ".pem"), "wb") as f:
        f.write(cert.public_bytes(serialization.Encoding.PEM))
    with open(os.path.join(work, name + "-key.pem"), "wb") as f:
        f.write(key.private_bytes(serialization.Encoding.PEM, serialization.PrivateFormat.PKCS8,
                                  serialization.NoEncryption()))


def keys(work):
    """The token (PIN), an encrypted PEM key, their files, and a wrapper
    that records osslsigncode's arguments in work/argv.log."""
    certificate(work, "cert", -1, 2)
    certificate(work, "future", 1, 3)
    certificate(work, "expired", -3, -1)
    os.makedirs(os.path.join(work, "tokens"))
    with open(os.path.join(work, "softhsm2.conf"), "w") as f:
        f.write("directories.tokendir = %s/tokens\nobjectstore.backend = file\nlog.level = ERROR\n" % work)
    env = dict(os.environ, SOFTHSM2_CONF=os.path.join(work, "softhsm2.conf"))
    subprocess.run(["softhsm2-util", "--init-token", "--free", "--label", "hvsign", "--pin", PIN,
                    "--so-pin", "12345678"], env=env, check=True, capture_output=True)
    subprocess.run(["softhsm2-util", "--import", os.path.join(work, "cert-key.pem"), "--token", "hvsign",
                    "--label", "sign", "--id", "01", "--pin", PIN], env=env, check=True, capture_output=True)
    subprocess.run(["openssl", "pkey", "-in", os.path.join(work, "cert-key.pem"), "-aes256", "-passout",
                    "file:/dev/stdin", "-out", os.path.join(work, "encrypted.pem")], input=PASSPHRASE,
                   text=True, check=True)
    for name, secret in (("pin", PIN), ("passphrase", PASSPHRASE)):
        with open(os.path.join(work, name), "w") as f:
            f.write(secret + "\n")
    wrappers = os.path.join(work, "bin")
    os.makedirs(wrappers)
    with open(os.path.join(wrappers, "osslsigncode"), "w") as f:
        f.write('#!/bin/sh\nprintf "%%s\\n" "$*" >> %s/argv.log\nexec %s "$@"\n'
                % (work, shutil.which("osslsigncode")))
    os.chmod(os.path.join(wrappers, "osslsigncode"), 0o755)
    return env


def main():
    if not shutil.which("x86_64-w64-mingw32-gcc") or not shutil.which("softhsm2-util"):
        print("skipped: needs mingw-w64 and SoftHSM (scripts/setup installs both)")
        return 0
    failures = 0
    with tempfile.TemporaryDirectory() as work:
        env = keys(work)
        w = lambda name: os.path.join(work, name)  # noqa: E731
        with open(w("m.c"), "w") as f:
            f.write("int main(void) { return 0; }\n")
        subprocess.run(["x86_64-w64-mingw32-gcc", "-o", w("plain.exe"), w("m.c")], check=True)
        token = {"HV_SIGN_CERT": w("cert.pem"), "HV_SIGN_KEY": "pkcs11:token=hvsign;object=sign;type=private",
                 "HV_SIGN_PKCS11_MODULE": "/usr/lib/softhsm/libsofthsm2.so"}
        month_ago = str(int(datetime.datetime.now().timestamp()) - 30 * 86400)
        # (what, settings, exit status expected)
        cases = [
            ("token, PIN from a file", dict(token, HV_SIGN_PASS_FILE=w("pin")), 0),
            ("token, PIN from the environment", dict(token, HV_SIGN_PASS=PIN), 0),
            ("token, PIN in the URI: refused", dict(token, HV_SIGN_KEY=token["HV_SIGN_KEY"] + ";pin-value=" + PIN), 2),
            ("encrypted PEM key, passphrase from a file",
             {"HV_SIGN_CERT": w("cert.pem"), "HV_SIGN_KEY": w("encrypted.pem"), "HV_SIGN_PASS_FILE": w("passphrase")}, 0),
            ("encrypted PEM key, passphrase from the environment, release time a month before the certificate",
             {"HV_SIGN_CERT": w("cert.pem"), "HV_SIGN_KEY": w("encrypted.pem"), "HV_SIGN_PASS": PASSPHRASE,
              "SOURCE_DATE_EPOCH": month_ago}, 0),
            ("encrypted PEM key, no passphrase: fails",
             {"HV_SIGN_CERT": w("cert.pem"), "HV_SIGN_KEY": w("encrypted.pem")}, 1),
            ("certificate not valid yet: refused",
             {"HV_SIGN_CERT": w("future.pem"), "HV_SIGN_KEY": w("future-key.pem")}, 2),
            ("certificate expired: refused",
             {"HV_SIGN_CERT": w("expired.pem"), "HV_SIGN_KEY": w("expired-key.pem")}, 2),
        ]
        path = w("bin") + os.pathsep + os.environ["PATH"]
        for what, settings, expect in cases:
            shutil.copy(w("plain.exe"), w("x.exe"))
            clean = {k: v for k, v in env.items() if not k.startswith("HV_SIGN") and k != "SOURCE_DATE_EPOCH"}
            before = int(datetime.datetime.now().timestamp())
            p = run(["bash", os.path.join(HERE, "sign_pe.sh"), w("x.exe")], env=dict(clean, PATH=path, **settings))
            problems = []
            if p.returncode != expect:
                problems.append("exit %d, expected %d: %s" % (p.returncode, expect, p.stderr.strip()[-300:]))
            signed = open(w("x.exe"), "rb").read() != open(w("plain.exe"), "rb").read()
            if signed != (expect == 0):
                problems.append("the file was %s" % ("signed" if signed else "left unsigned"))
            if expect == 0:
                v = run(["osslsigncode", "verify", "-CAfile", w("cert.pem"), "-in", w("x.exe")])
                if v.returncode != 0:
                    problems.append("does not verify: " + v.stdout[-300:])
                line = [x for x in v.stdout.splitlines() if "Signing time:" in x]
                when = datetime.datetime.strptime(line[0].split(":", 1)[1].strip(), "%b %d %H:%M:%S %Y %Z") \
                    if line else None
                if not when or abs(when.replace(tzinfo=datetime.timezone.utc).timestamp() - before) > 120:
                    problems.append("signing time %s, not now" % when)
            logged = open(w("argv.log")).read() if os.path.exists(w("argv.log")) else ""
            if expect != 2 and not logged:
                problems.append("osslsigncode's arguments were not recorded")
            for secret in (PIN, PASSPHRASE):
                if secret in logged:
                    problems.append("a secret reached osslsigncode's command line")
            if os.path.exists(w("argv.log")):
                os.remove(w("argv.log"))
            print(("ok     " if not problems else "FAILED ") + what + "".join("\n       " + x for x in problems))
            failures += bool(problems)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
