"""A throwaway RFC 3161 time-stamping authority on the loopback interface, made
from Debian's openssl: `openssl ts -reply` answers each request that an HTTP
POST brings, as a public timestamp server does."""

import http.server
import os
import subprocess
import tempfile
import threading
from contextlib import contextmanager

_CONFIG = """\
[ tsa ]
default_tsa = plenvor_test_tsa
[ plenvor_test_tsa ]
serial = {folder}/serial
crypto_device = builtin
signer_cert = {folder}/tsa.pem
certs = {folder}/tsa-ca.pem
signer_key = {folder}/tsa.key
signer_digest = sha256
default_policy = 1.2.3.4.1
digests = sha1, sha256, sha384, sha512
accuracy = secs:1
ordering = yes
tsa_name = yes
ess_cert_id_chain = no
ess_cert_id_alg = sha256
"""


def make_authority(folder, days=3650):
    """A CA of its own (tsa-ca.pem) and the TSA's certificate, whose one
    extended key usage, critical, is timeStamping (RFC 3161, 2.3)."""
    def openssl(*args):
        subprocess.run(["openssl", *args], cwd=folder, check=True, capture_output=True)
    openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "tsa-ca.key", "-out",
            "tsa-ca.pem", "-days", str(days), "-subj", "/CN=Plenvor Test TSA CA")
    openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "tsa.key", "-out",
            "tsa.pem", "-days", str(days), "-subj", "/CN=Plenvor Test TSA", "-CA", "tsa-ca.pem",
            "-CAkey", "tsa-ca.key", "-addext", "basicConstraints=CA:FALSE", "-addext",
            "keyUsage=critical,digitalSignature", "-addext",
            "extendedKeyUsage=critical,timeStamping")
    with open(os.path.join(folder, "serial"), "w") as f:
        f.write("01\n")
    with open(os.path.join(folder, "tsa.cnf"), "w") as f:
        f.write(_CONFIG.format(folder=folder))


@contextmanager
def authority(folder):
    """Serves the authority made in folder on 127.0.0.1; yields its URL and a
    list that counts the requests answered."""
    answered = []
    lock = threading.Lock()

    class Handler(http.server.BaseHTTPRequestHandler):
        def do_POST(self):
            query = self.rfile.read(int(self.headers.get("Content-Length", 0)))
            with lock, tempfile.TemporaryDirectory(dir=folder) as work:
                request, reply = os.path.join(work, "request"), os.path.join(work, "reply")
                with open(request, "wb") as f:
                    f.write(query)
                made = subprocess.run(
                    ["openssl", "ts", "-reply", "-config", os.path.join(folder, "tsa.cnf"),
                     "-queryfile", request, "-out", reply], capture_output=True)
                if made.returncode != 0:
                    self.send_error(500, made.stderr.decode(errors="replace")[:200])
                    return
                with open(reply, "rb") as f:
                    body = f.read()
                answered.append(len(query))
            self.send_response(200)
            self.send_header("Content-Type", "application/timestamp-reply")
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)

        def log_message(self, *args):
            pass

    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    thread = threading.Thread(target=server.serve_forever, daemon=True)
    thread.start()
    try:
        yield f"http://127.0.0.1:{server.server_address[1]}/", answered
    finally:
        server.shutdown()
        server.server_close()
