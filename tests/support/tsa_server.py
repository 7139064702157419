#!/usr/bin/python3
"""A time-stamp authority on loopback for the signing tests (RFC 3161 over
HTTP, RFC 3161 section 3.4): each POSTed query is answered by `openssl ts
-reply` with a throwaway TSA certificate.

  tsa_server.py FOLDER     makes FOLDER/tsa-ca.pem (the TSA's self-signed
                           certificate, to verify stamps with), serves on
                           127.0.0.1 and writes its URL to FOLDER/url
"""
import http.server
import os
import subprocess
import sys
import tempfile

CONFIG = """[ tsa ]
default_tsa = tsa_config
[ tsa_config ]
serial = {folder}/serial
signer_cert = {folder}/tsa-ca.pem
signer_key = {folder}/tsa-key.pem
signer_digest = sha256
default_policy = 1.2.3.4.1
digests = sha256, sha384, sha512, sha1
accuracy = secs:1
ess_cert_id_alg = sha256
"""


def make_authority(folder):
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                    "-subj", "/CN=HvVerifySp test TSA", "-keyout", os.path.join(folder, "tsa-key.pem"),
                    "-out", os.path.join(folder, "tsa-ca.pem"),
                    "-addext", "extendedKeyUsage=critical,timeStamping",
                    "-addext", "keyUsage=critical,digitalSignature"], check=True, capture_output=True)
    with open(os.path.join(folder, "serial"), "w") as f:
        f.write("01\n")
    with open(os.path.join(folder, "tsa.cnf"), "w") as f:
        f.write(CONFIG.format(folder=folder))


def handler_for(folder):
    class Handler(http.server.BaseHTTPRequestHandler):
        def do_POST(self):  # noqa: N802 (the library's name)
            length = int(self.headers.get("Content-Length", "0"))
            query = self.rfile.read(min(length, 1 << 16))
            with tempfile.NamedTemporaryFile(dir=folder) as q, tempfile.NamedTemporaryFile(dir=folder) as r:
                q.write(query)
                q.flush()
                p = subprocess.run(["openssl", "ts", "-reply", "-config", os.path.join(folder, "tsa.cnf"),
                                    "-queryfile", q.name, "-out", r.name], capture_output=True)
                reply = open(r.name, "rb").read() if p.returncode == 0 else b""
            self.send_response(200 if reply else 500)
            self.send_header("Content-Type", "application/timestamp-reply")
            self.send_header("Content-Length", str(len(reply)))
            self.end_headers()
            self.wfile.write(reply)

        def log_message(self, *args):
            pass
    return Handler


def main():
    folder = os.path.abspath(sys.argv[1])
    os.makedirs(folder, exist_ok=True)
    make_authority(folder)
    server = http.server.HTTPServer(("127.0.0.1", 0), handler_for(folder))
    with open(os.path.join(folder, "url.tmp"), "w") as f:
        f.write("http://127.0.0.1:%d/\n" % server.server_port)
    os.replace(os.path.join(folder, "url.tmp"), os.path.join(folder, "url"))
    server.serve_forever()


if __name__ == "__main__":
    main()
