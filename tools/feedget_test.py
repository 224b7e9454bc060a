#!/usr/bin/env python3
# tools/feedget_test.py - runs feedget against documents served on loopback:
# a feed it refuses prints the reason, as the shell update does, and the
# exit code is 5; a whole feed is added.
#   feedget_test.py PATH-TO-FEEDGET
import os
import socket
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


def main():
    feedget = sys.argv[1]
    failures = 0
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
