#!/usr/bin/python3
"""A loopback HTTP server that answers as the test scripts it, for the web transport's tests.

Listens on 127.0.0.1 (the port given, or one the kernel picks), over TLS with --cert and --key,
prints "PORT <n>" on one line, and serves until its standard input closes. Each connection
carries one request and is closed after the answer.

Every request read whole is written to the spool directory as <n>.req, byte for byte (request
line, headers and body), whole, by rename. What to answer comes from the file "script" in the
spool directory, one JSON object a line, the first line taken (and removed) by each request;
with no line left the answer is 200 OK. An answer's fields, all optional:

  status, reason   the status line ("200", "OK")
  body             the answer's body (text)
  headers          an object of further header fields (such as Location)
  delay_ms         a pause before answering
  action           "answer" (the default); "drop": read the request, record it, and close
                   without a word (the page was taken, its answer is lost); "silent": read and
                   record the request and never answer (until the client gives up);
                   "drop-before": close before the request is read (nothing is taken);
                   "cut": answer with the status and headers, announce a longer body than
                   is sent, send part of it and close
"""

import argparse
import json
import os
import socket
import ssl
import sys
import threading
import time


def write_whole(path, data):
    with open(path + ".tmp", "wb") as f:
        f.write(data)
    os.rename(path + ".tmp", path)


class Server:
    def __init__(self, spool):
        self.spool = spool
        self.lock = threading.Lock()
        self.count = 0

    def next_answer(self):
        path = os.path.join(self.spool, "script")
        with self.lock:
            try:
                with open(path, "r", encoding="utf-8") as f:
                    lines = [line for line in f.read().split("\n") if line.strip()]
            except FileNotFoundError:
                lines = []
            if not lines:
                return {}
            write_whole(path, ("\n".join(lines[1:]) + "\n").encode("utf-8"))
            return json.loads(lines[0])

    def record(self, data):
        with self.lock:
            self.count += 1
            write_whole(os.path.join(self.spool, "%d.req" % self.count), data)

    def read_request(self, conn):
        data = b""
        while b"\r\n\r\n" not in data:
            chunk = conn.recv(65536)
            if not chunk:
                return None
            data += chunk
        head, _, rest = data.partition(b"\r\n\r\n")
        length = 0
        for line in head.split(b"\r\n")[1:]:
            name, _, value = line.partition(b":")
            if name.strip().lower() == b"content-length":
                length = int(value.strip())
        while len(rest) < length:
            chunk = conn.recv(65536)
            if not chunk:
                return None
            rest += chunk
        return head + b"\r\n\r\n" + rest

    def serve(self, conn):
        answer = self.next_answer()
        action = answer.get("action", "answer")
        if action == "drop-before":
            return
        request = self.read_request(conn)
        if request is None:
            return
        self.record(request)
        if action == "drop":
            return
        if action == "silent":
            while conn.recv(65536):
                pass
            return
        time.sleep(answer.get("delay_ms", 0) / 1000.0)
        body = answer.get("body", "").encode("utf-8")
        status = "%s %s" % (answer.get("status", 200), answer.get("reason", "OK"))
        length = len(body) + (1000 if action == "cut" else 0)
        lines = ["HTTP/1.1 " + status, "Content-Length: %d" % length, "Connection: close"]
        for name, value in answer.get("headers", {}).items():
            lines.append("%s: %s" % (name, value))
        conn.sendall(("\r\n".join(lines) + "\r\n\r\n").encode("utf-8") + body)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--spool", required=True)
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--cert")
    parser.add_argument("--key")
    args = parser.parse_args()

    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", args.port))
    listener.listen(16)
    context = None
    if args.cert:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(args.cert, args.key)
    sys.stdout.write("PORT %d\n" % listener.getsockname()[1])
    sys.stdout.flush()

    def wait_for_eof():
        sys.stdin.buffer.read()
        os._exit(0)

    threading.Thread(target=wait_for_eof, daemon=True).start()
    server = Server(args.spool)

    def handle(sock):
        try:
            conn = context.wrap_socket(sock, server_side=True) if context else sock
            try:
                server.serve(conn)
            finally:
                conn.close()
        except (OSError, ssl.SSLError, ValueError):
            sock.close()

    while True:
        sock, _ = listener.accept()
        threading.Thread(target=handle, args=(sock,), daemon=True).start()


if __name__ == "__main__":
    main()
