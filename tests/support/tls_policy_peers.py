#!/usr/bin/env python3
"""TLS servers for the TLS policy's verdict table: a test PKI made now and
one server per row, each on a port of its own on 127.0.0.1.

  tls_policy_peers.py start DIR   DIR/NAME.port and DIR/NAME.sha256 (the
                                  leaf's SHA-256, hexadecimal) per peer;
                                  DIR/ca.der and DIR/sha1ca.der, the
                                  authorities in DER
  tls_policy_peers.py stop DIR

The servers run OpenSSL at security level 0, so that they offer what a
weak or misconfigured server would (1024-bit keys and groups, SHA-1 and
MD5 signatures, TLS 1.1); each completes the handshake, reads a request
head if one comes and answers 200 with a short body. Peers (leaf for
localhost and 127.0.0.1, RSA-2048, SHA-256, signed by ca, unless named):

  good, tls12 (TLS 1.2 at most, ECDHE), dhe2048 and dhe1024 (TLS 1.2,
  DHE only, with a group of that size), tls11 (TLS 1.1 at most),
  rsa1024 (leaf key), ec256 and ec224 (ECDSA leaf keys on P-256 and
  P-224, TLS 1.2), inter1024 (an RSA-1024 intermediate), ec224inter (a
  P-256 leaf under a P-224 intermediate), sha1leaf and
  md5leaf (leaf signatures), sha1inter (the intermediate's signature),
  sha1root (signed by sha1ca, a root whose own signature is SHA-1),
  expired, othername (other.example only), clientonly (extended key
  usage client authentication only), leafissuer (issued by a certificate
  without CA:TRUE), nameconstrained (an intermediate permitted
  .example.org only), pathlen (a root of path length 0 above an
  intermediate), sni (good, but ends the handshake unless the name sent
  is "localhost" exactly), intereku (an intermediate whose extended key
  usage is client authentication only), ncip (an intermediate permitted
  10.0.0.0/8 and DNS localhost only, above a leaf that names 127.0.0.1),
  psssha1 and pss256 (intermediates signed RSASSA-PSS with SHA-1 and
  with SHA-256), rsakx (TLS 1.2, RSA key transport only:
  AES128-GCM-SHA256), ffdhe13 (TLS 1.3 with the finite-field group
  ffdhe2048 only; openssl s_server, which the standard library cannot
  limit to it).

DIR/connect.port: a CONNECT proxy that reaches 127.0.0.1 at the port
asked for whatever the host, for names that do not resolve here
("localhost.").
"""
import hashlib
import os
import signal
import socket
import ssl
import subprocess
import sys
import threading
import time

import fixture_cli


def openssl(*args):
    subprocess.run(["openssl"] + list(args), check=True, capture_output=True)


class Pki:
    """Keys and certificates in one folder, made with the openssl tool."""

    def __init__(self, base):
        self.base = base

    def path(self, name):
        return os.path.join(self.base, name)

    def key(self, name, key_type):
        if key_type.startswith("rsa:"):
            openssl("genpkey", "-algorithm", "RSA", "-pkeyopt", "rsa_keygen_bits:" + key_type[4:], "-out", self.path(name))
        else:
            openssl("genpkey", "-algorithm", "EC", "-pkeyopt", "ec_paramgen_curve:" + key_type, "-out", self.path(name))
        return name

    def root(self, name, key, md="sha256", extra=""):
        ext = self.path(name + ".ext")
        with open(ext, "w") as f:
            f.write("[v3]\nbasicConstraints=critical,CA:TRUE%s\nkeyUsage=critical,keyCertSign,cRLSign\n"
                    "subjectKeyIdentifier=hash\n" % extra)
        openssl("req", "-x509", "-new", "-key", self.path(key), "-out", self.path(name + ".pem"), "-days", "2",
                "-" + md, "-subj", "/CN=policy " + name, "-config", ext, "-extensions", "v3")
        openssl("x509", "-in", self.path(name + ".pem"), "-outform", "DER", "-out", self.path(name + ".der"))

    def issue(self, name, key, issuer, issuer_key, ext_lines, md="sha256", days="2", pss=False):
        csr = self.path(name + ".csr")
        openssl("req", "-new", "-key", self.path(key), "-out", csr, "-subj", "/CN=policy " + name)
        ext = self.path(name + ".ext")
        with open(ext, "w") as f:
            f.write("subjectKeyIdentifier=hash\nauthorityKeyIdentifier=keyid\n" + ext_lines)
        openssl("x509", "-req", "-in", csr, "-CA", self.path(issuer + ".pem"), "-CAkey", self.path(issuer_key),
                "-CAcreateserial", "-out", self.path(name + ".pem"), "-days", days, "-" + md, "-extfile", ext,
                *(["-sigopt", "rsa_padding_mode:pss", "-sigopt", "rsa_pss_saltlen:-1"] if pss else []))

    def intermediate(self, name, key, issuer, issuer_key, md="sha256", extra="", pss=False):
        self.issue(name, key, issuer, issuer_key,
                   "basicConstraints=critical,CA:TRUE\nkeyUsage=critical,keyCertSign,cRLSign\n" + extra, md, pss=pss)


SERVER = "subjectAltName=DNS:localhost,IP:127.0.0.1\nbasicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n"


def make_pki(base):
    """Writes the certificates; returns {peer: (chain files, key, options)}."""
    pki = Pki(base)
    rsa, weak, ec256, ec224 = (pki.key("rsa.key", "rsa:2048"), pki.key("rsa1024.key", "rsa:1024"),
                               pki.key("ec256.key", "prime256v1"), pki.key("ec224.key", "secp224r1"))
    # Every authority a key of its own: a certificate whose issuer has its
    # key would look signed by itself.
    keys = {name: pki.key(name + ".key", "rsa:2048") for name in ("ca", "sha1ca", "pathca", "isha1", "iconstrained",
                                                                   "ipath", "inotca", "ieku", "incip", "ipss1", "ipss256")}
    keys["i1024"], keys["iec224"] = weak, ec224
    pki.root("ca", keys["ca"])
    pki.root("sha1ca", keys["sha1ca"], md="sha1")
    pki.root("pathca", keys["pathca"], extra=",pathlen:0")
    pki.intermediate("i1024", weak, "ca", keys["ca"])
    pki.intermediate("iec224", ec224, "ca", keys["ca"])
    pki.intermediate("isha1", keys["isha1"], "ca", keys["ca"], md="sha1")
    pki.intermediate("iconstrained", keys["iconstrained"], "ca", keys["ca"],
                     extra="nameConstraints=critical,permitted;DNS:.example.org\n")
    pki.intermediate("ipath", keys["ipath"], "pathca", keys["pathca"])
    pki.intermediate("ieku", keys["ieku"], "ca", keys["ca"], extra="extendedKeyUsage=clientAuth\n")
    pki.intermediate("incip", keys["incip"], "ca", keys["ca"],
                     extra="nameConstraints=critical,permitted;IP:10.0.0.0/255.0.0.0,permitted;DNS:localhost\n")
    pki.intermediate("ipss1", keys["ipss1"], "ca", keys["ca"], md="sha1", pss=True)
    pki.intermediate("ipss256", keys["ipss256"], "ca", keys["ca"], pss=True)
    pki.issue("inotca", keys["inotca"], "ca", keys["ca"], "basicConstraints=CA:FALSE\n")
    peers = {}

    def leaf(peer, issuer="ca", key=rsa, ext=SERVER, options=None, **kw):
        pki.issue(peer, key, issuer, keys[issuer], ext, **kw)
        chain = [issuer] if issuer.startswith("i") else []
        peers[peer] = ([pki.path(peer + ".pem")] + [pki.path(c + ".pem") for c in chain], pki.path(key),
                       options or {})

    leaf("good")
    leaf("sni", options={"sni": "localhost"})
    leaf("tls12", options={"max": "1.2"})
    leaf("dhe2048", options={"max": "1.2", "dhe": "ffdhe2048"})
    leaf("dhe1024", options={"max": "1.2", "dhe": "rfc5114-1024"})
    leaf("tls11", options={"max": "1.1"})
    leaf("rsa1024", key=weak)
    leaf("ec256", key=ec256, options={"max": "1.2"})
    leaf("ec224", key=ec224, options={"max": "1.2"})
    leaf("inter1024", issuer="i1024")
    leaf("ec224inter", key=ec256, issuer="iec224")
    leaf("sha1leaf", md="sha1")
    leaf("md5leaf", md="md5")
    leaf("sha1inter", issuer="isha1")
    leaf("sha1root", issuer="sha1ca")
    leaf("expired", days="-1")
    leaf("othername", ext="subjectAltName=DNS:other.example\nbasicConstraints=CA:FALSE\n")
    leaf("clientonly", ext=SERVER.replace("serverAuth", "clientAuth"))
    leaf("leafissuer", issuer="inotca")
    leaf("nameconstrained", issuer="iconstrained")
    leaf("pathlen", issuer="ipath")
    leaf("intereku", issuer="ieku")
    leaf("ncip", issuer="incip")
    leaf("psssha1", issuer="ipss1")
    leaf("pss256", issuer="ipss256")
    leaf("rsakx", options={"max": "1.2", "ciphers": "AES128-GCM-SHA256:@SECLEVEL=0"})
    leaf("ffdhe13", options={"s_server": ["-tls1_3", "-groups", "ffdhe2048"]})
    return peers


def dh_params(base, group):
    path = os.path.join(base, group + ".dh")
    if group == "ffdhe2048":
        openssl("genpkey", "-genparam", "-algorithm", "DH", "-pkeyopt", "group:ffdhe2048", "-out", path)
    else:
        openssl("genpkey", "-genparam", "-algorithm", "DH", "-pkeyopt", "dh_rfc5114:1", "-out", path)
    return path


def context_for(base, chain, key, options):
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    bundle = os.path.join(base, os.path.basename(chain[0]) + ".chain")
    with open(bundle, "w") as out:
        for part in chain:
            with open(part) as f:
                out.write(f.read())
    context.set_ciphers("DEFAULT:@SECLEVEL=0")
    context.minimum_version = ssl.TLSVersion.MINIMUM_SUPPORTED
    context.load_cert_chain(bundle, key)
    if options.get("max") == "1.2":
        context.maximum_version = ssl.TLSVersion.TLSv1_2
    if options.get("max") == "1.1":
        context.minimum_version = context.maximum_version = ssl.TLSVersion.TLSv1_1
    if "sni" in options:
        def only(tls, name, _context, wanted=options["sni"]):
            return None if name == wanted else ssl.ALERT_DESCRIPTION_UNRECOGNIZED_NAME
        context.sni_callback = only
    if "ciphers" in options:
        context.set_ciphers(options["ciphers"])
    if "dhe" in options:
        context.set_ciphers("DHE-RSA-AES128-GCM-SHA256:DHE-RSA-AES256-GCM-SHA384:@SECLEVEL=0")
        context.load_dh_params(dh_params(base, options["dhe"]))
    return context


def answer(context, conn):
    try:
        conn.settimeout(10)
        tls = context.wrap_socket(conn, server_side=True)
        if fixture_cli.read_head(tls):
            tls.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\nok")
        tls.unwrap()
    except (OSError, ssl.SSLError, ValueError):
        pass
    finally:
        conn.close()


def pipe(source, sink):
    try:
        while True:
            data = source.recv(16384)
            if not data:
                break
            sink.sendall(data)
    except OSError:
        pass
    finally:
        for end in (source, sink):
            try:
                end.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass


def tunnel(conn):
    """CONNECT ANY:PORT: a tunnel to 127.0.0.1:PORT."""
    try:
        conn.settimeout(10)
        head = fixture_cli.read_head(conn).split(b"\r\n")[0].split()
        port = int(head[1].rsplit(b":", 1)[1])
        target = socket.create_connection(("127.0.0.1", port), timeout=10)
        conn.sendall(b"HTTP/1.1 200 Connection established\r\n\r\n")
        threading.Thread(target=pipe, args=(target, conn), daemon=True).start()
        pipe(conn, target)
    except (OSError, ValueError, IndexError):
        conn.close()


def serve(base, name, context):
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(16)
    with open(os.path.join(base, name + ".port.tmp"), "w") as f:
        f.write(str(listener.getsockname()[1]))
    os.rename(os.path.join(base, name + ".port.tmp"), os.path.join(base, name + ".port"))
    while True:
        conn, _ = listener.accept()
        if context is None:
            threading.Thread(target=tunnel, args=(conn,), daemon=True).start()
        else:
            threading.Thread(target=answer, args=(context, conn), daemon=True).start()


def s_server(base, name, bundle, key, args, children):
    """openssl s_server on a port of its own, a child of this process."""
    child = subprocess.Popen(["openssl", "s_server", "-rev", "-accept", "127.0.0.1:0", "-cert", bundle,
                              "-key", key] + args, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                             stderr=subprocess.DEVNULL, text=True)
    children.append(child)
    for line in child.stdout:
        if line.startswith("ACCEPT"):
            with open(os.path.join(base, name + ".port.tmp"), "w") as f:
                f.write(line.rsplit(":", 1)[1].strip())
            os.rename(os.path.join(base, name + ".port.tmp"), os.path.join(base, name + ".port"))
            break
    for _ in child.stdout:  # drained, so that it never blocks on a full pipe
        pass


def run_peers(base):
    """The server process: every peer on a thread of its own, for 15
    minutes at most."""
    peers = make_pki(base)
    children = []

    def end(*_):
        for child in children:
            child.kill()
        os._exit(0)
    signal.signal(signal.SIGTERM, end)
    for name, (chain, key, options) in peers.items():
        der = subprocess.run(["openssl", "x509", "-in", chain[0], "-outform", "DER"], check=True,
                             capture_output=True).stdout
        with open(os.path.join(base, name + ".sha256"), "w") as out:
            out.write(hashlib.sha256(der).hexdigest())
        if "s_server" in options:
            threading.Thread(target=s_server, args=(base, name, chain[0], key, options["s_server"], children),
                             daemon=True).start()
            continue
        threading.Thread(target=serve, args=(base, name, context_for(base, chain, key, options)),
                         daemon=True).start()
    threading.Thread(target=serve, args=(base, "connect", None), daemon=True).start()
    with open(os.path.join(base, "ready.tmp"), "w") as f:
        f.write(" ".join(list(peers) + ["connect"]))
    os.rename(os.path.join(base, "ready.tmp"), os.path.join(base, "ready"))
    time.sleep(900)
    end()


def start(base):
    for stale in os.listdir(base):
        os.remove(os.path.join(base, stale))
    peer = subprocess.Popen([sys.executable, os.path.abspath(__file__), "serve", base],
                            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                            stderr=open(os.path.join(base, "peers.log"), "w"), start_new_session=True)
    with open(os.path.join(base, "peers.pid"), "w") as f:
        f.write(str(peer.pid))
    for _ in range(1200):
        if os.path.exists(os.path.join(base, "ready")) or peer.poll() is not None:
            break
        time.sleep(0.05)
    if not os.path.exists(os.path.join(base, "ready")):
        sys.exit("the policy peers did not start (see peers.log)")
    with open(os.path.join(base, "ready")) as f:
        names = f.read().split()
    for _ in range(200):  # the listeners write their ports as they start
        if all(os.path.exists(os.path.join(base, n + ".port")) for n in names):
            return
        time.sleep(0.05)
    sys.exit("the policy peers did not all listen (see peers.log)")


def stop(base):
    fixture_cli.stop_pids(base, "peers.pid")


if __name__ == "__main__":
    if len(sys.argv) == 3 and sys.argv[1] == "serve":
        run_peers(sys.argv[2])
    else:
        fixture_cli.run(start, stop, __doc__)
