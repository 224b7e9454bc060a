#!/usr/bin/env python3
# tools/feedget_test.py - runs feedget against documents served on loopback:
# a feed it refuses prints the reason, as the shell update does, and the
# exit code is 5; a whole feed is added. Over https, bytes a server sent
# beyond its answers on a connection it keeps never become a later answer.
#   feedget_test.py PATH-TO-FEEDGET
import os
import socket
import ssl
import subprocess
import sys
import tempfile
import threading

RSS1 = (b'<?xml version="1.0"?><rdf:RDF xmlns:rdf="http://www.w3.org/1999/02/22-rdf-syntax-ns#" '
        b'xmlns="http://purl.org/rss/1.0/"><channel rdf:about="x"><title>t</title></channel></rdf:RDF>')
RSS2 = b'<rss version="2.0"><channel><title>Whole</title><link>http://x/</link><item><title>i</title></item></channel></rss>'
CASES = [
    # (document, exit code, text the output holds)
    (RSS1, 5, "failed: http://127.0.0.1:%d/feed: this feed's format (RSS 1.0) is not supported"),
    (RSS2[:70], 5, "it may have been cut off"),
    (RSS2, 0, "1 Whole"),
]


def serve(listener, body):
    conn, _ = listener.accept()
    with conn:
        conn.recv(65536)
        conn.sendall(b"HTTP/1.0 200 OK\r\nContent-Length: %d\r\n\r\n" % len(body) + body)


def serve_kept(listener, context, answers):
    """Answers every request on kept TLS connections from answers (path -> bytes)."""
    while True:
        try:
            conn, _ = listener.accept()
        except OSError:
            return
        threading.Thread(target=answer_kept, args=(conn, context, answers), daemon=True).start()


def answer_kept(conn, context, answers):
    conn.settimeout(10)
    try:
        with context.wrap_socket(conn, server_side=True) as tls:
            pending = b""
            while True:
                while b"\r\n\r\n" not in pending:
                    data = tls.recv(65536)
                    if not data:
                        return
                    pending += data
                head, pending = pending.split(b"\r\n\r\n", 1)
                tls.sendall(answers[head.split(b" ")[1].decode()])
    except (OSError, ssl.SSLError):
        pass


def stray_bytes_failure(feedget, folder):
    """A 304 with a document, then a redirect of length 0 with 21,000 bytes
    more, whose target the same connection would be asked: the target's feed
    is added. The failure in words, or ''."""
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "key.pem", "-out",
                    "cert.pem", "-days", "1", "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1"],
                   cwd=folder, capture_output=True, check=True)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(os.path.join(folder, "cert.pem"), os.path.join(folder, "key.pem"))
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(4)
    port = listener.getsockname()[1]
    answers = {"/a": b"HTTP/1.1 304 Not Modified\r\n\r\n" + RSS2 * 4,
               "/c": b"HTTP/1.1 301 Moved\r\nLocation: /b\r\nContent-Length: 0\r\n\r\n" + b"x" * 21000,
               "/b": b"HTTP/1.1 200 OK\r\nContent-Length: %d\r\n\r\n" % len(RSS2) + RSS2}
    threading.Thread(target=serve_kept, args=(listener, context, answers), daemon=True).start()
    urls = ["https://127.0.0.1:%d/%s" % (port, path) for path in ("a", "c")]
    run = subprocess.run([feedget, "--db", os.path.join(folder, "kept.soup")] + urls, capture_output=True, text=True,
                         timeout=60, stdin=subprocess.DEVNULL,
                         env=dict(os.environ, CURL_CA_BUNDLE=os.path.join(folder, "cert.pem")))
    listener.close()
    if "1 Whole  https://127.0.0.1:%d/b" % port in run.stdout:
        return ""
    return "FAILED stray bytes on a kept https connection: output:\n" + run.stdout


def main():
    feedget = sys.argv[1]
    failures = 0
    with tempfile.TemporaryDirectory() as folder:
        failure = stray_bytes_failure(feedget, folder)
        if failure:
            print(failure)
            failures += 1
    for body, want_code, want_text in CASES:
        listener = socket.socket()
        listener.bind(("127.0.0.1", 0))
        listener.listen(1)
        port = listener.getsockname()[1]
        server = threading.Thread(target=serve, args=(listener, body))
        server.start()
        with tempfile.TemporaryDirectory() as folder:
            run = subprocess.run([feedget, "--db", os.path.join(folder, "f.soup"), "http://127.0.0.1:%d/feed" % port],
                                 capture_output=True, text=True, timeout=60, stdin=subprocess.DEVNULL)
        server.join()
        listener.close()
        want = want_text % port if "%d" in want_text else want_text
        if run.returncode != want_code or want not in run.stdout:
            print("FAILED %r: exit %d, output:\n%s" % (body[:40], run.returncode, run.stdout))
            failures += 1
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
