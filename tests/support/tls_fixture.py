#!/usr/bin/env python3
"""TLS peers for the tests: a test certificate authority and server
certificates made now, and the reference endpoint serving each of them.

  tls_fixture.py start DIR ENDPOINT   make DIR/ca.pem and the certificates,
                                      start one endpoint per certificate;
                                      DIR/NAME.port and DIR/NAME.sha256 (the
                                      certificate's SHA-256, hexadecimal)
  tls_fixture.py stop DIR

NAME: valid (for 127.0.0.1 and localhost, signed by the CA), expired,
othername (for other.example only), selfsigned, and redirect (valid, but
sending every verification on to plain http).
"""
import hashlib
import os
import subprocess
import sys

import endpoint_fixture
import fixture_cli


def openssl(*args):
    subprocess.run(["openssl"] + list(args), check=True, capture_output=True)


def make_certificates(base):
    ca_key, ca = os.path.join(base, "ca.key"), os.path.join(base, "ca.pem")
    openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", ca_key, "-out", ca, "-days", "2",
            "-subj", "/CN=HvVerifySp test CA", "-addext", "basicConstraints=critical,CA:TRUE",
            "-addext", "keyUsage=critical,keyCertSign,cRLSign")
    key = os.path.join(base, "server.key")
    csr = os.path.join(base, "server.csr")
    openssl("req", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", csr, "-subj", "/CN=test server")
    for name, names, days in (("valid", "IP:127.0.0.1,DNS:localhost", "2"),
                              ("expired", "IP:127.0.0.1,DNS:localhost", "-1"),
                              ("othername", "DNS:other.example", "2")):
        ext = os.path.join(base, name + ".ext")
        with open(ext, "w") as f:
            f.write("subjectAltName=%s\nbasicConstraints=CA:FALSE\n" % names)
        openssl("x509", "-req", "-in", csr, "-CA", ca, "-CAkey", ca_key, "-CAcreateserial",
                "-out", os.path.join(base, name + ".pem"), "-days", days, "-extfile", ext)
    openssl("req", "-x509", "-key", key, "-out", os.path.join(base, "selfsigned.pem"), "-days", "2",
            "-subj", "/CN=self", "-addext", "subjectAltName=IP:127.0.0.1,DNS:localhost")
    return key


def fingerprint(pem):
    der = subprocess.run(["openssl", "x509", "-in", pem, "-outform", "DER"], check=True,
                         capture_output=True).stdout
    return hashlib.sha256(der).hexdigest()


def start(base, endpoint):
    key = make_certificates(base)
    for name in ("valid", "expired", "othername", "selfsigned", "redirect"):
        pem = os.path.join(base, ("valid" if name == "redirect" else name) + ".pem")
        folder = os.path.join(base, name)
        os.makedirs(folder, exist_ok=True)
        extra = ["--tls-cert", pem, "--tls-key", key]
        if name == "redirect":
            extra += ["--redirect", "http://127.0.0.1:9/interface/newauth/index.php?c=x"]
        endpoint_fixture.start(folder, endpoint, *extra)
        with open(os.path.join(folder, "port")) as f, open(os.path.join(base, name + ".port"), "w") as out:
            out.write(f.read())
        with open(os.path.join(base, name + ".sha256"), "w") as out:
            out.write(fingerprint(pem))


def stop(base):
    for name in ("valid", "expired", "othername", "selfsigned", "redirect"):
        endpoint_fixture.stop(os.path.join(base, name))


if __name__ == "__main__":
    fixture_cli.run(start, stop, __doc__)
