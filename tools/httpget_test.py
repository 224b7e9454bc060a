#!/usr/bin/env python3
# tools/httpget_test.py - runs httpget against a scripted loopback server:
# the status is printed and the exit code is 1 for an error status, a cut
# body or an unsupported encoding, 0 for a whole body.
#   httpget_test.py PATH-TO-HTTPGET
import socket
import subprocess
import sys
import threading

CASES = [
    # (response, exit code, text the output holds)
    (b"HTTP/1.0 200 OK\r\nContent-Length: 4\r\n\r\nbody", 0, "body: 4 bytes"),
    (b"HTTP/1.0 404 Not Found\r\n\r\nerror page", 1, "status: 404"),
    (b"HTTP/1.0 200 OK\r\nContent-Length: 100\r\n\r\nshort", 1, "failed: result -1"),
    (b"HTTP/1.0 200 OK\r\nContent-Encoding: gzip\r\n\r\nxx", 1, "unsupported content encoding"),
    (b"HTTP/1.0 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n0\r\n\r\n", 0, "body: 3 bytes"),
]


def serve(listener, response):
    conn, _ = listener.accept()
    with conn:
        conn.recv(65536)
        conn.sendall(response)


def main():
    httpget = sys.argv[1]
    failures = 0
    for response, want_code, want_text in CASES:
        listener = socket.socket()
        listener.bind(("127.0.0.1", 0))
        listener.listen(1)
        port = listener.getsockname()[1]
        server = threading.Thread(target=serve, args=(listener, response))
        server.start()
        run = subprocess.run([httpget, "http://127.0.0.1:%d/x" % port], capture_output=True, text=True, timeout=30)
        server.join()
        listener.close()
        if run.returncode != want_code or want_text not in run.stdout:
            print("FAILED %r: exit %d, output:\n%s" % (response[:40], run.returncode, run.stdout))
            failures += 1
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
