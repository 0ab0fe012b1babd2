#!/usr/bin/python3
"""A scripted HTTP server for the calendar server tests: the faults a real server does not make.

Listens on 127.0.0.1 at a port the kernel picks, prints "PORT <n>" on one line, and serves until
its standard input closes (so it ends with the test that started it). Each request is logged as
one line "METHOD PATH auth|noauth" and then, by the first segment of its path (the mailbox):

  NAME=hang           reads the request and never answers
  NAME=cut            passes it on, then sends the answer's headers and half of its body
  NAME=malformed      answers 207 with a multistatus whose XML breaks off
  NAME=redirect:URL   answers 301 to URL followed by the path
  NAME=nosync         passes it on, but answers 501 to sync-collection reports
  NAME=noctag         passes it on, leaving getctag out of the answer
  NAME=forbidden      passes it on, but in the answers to reports every item (an href ending in
                      ".ics") becomes a response of its own status 403 Forbidden

Every other request is passed on to the upstream server (--fallback proxy), or answered here
(--fallback record): 401 asking for Basic credentials when it has none, an empty multistatus
when it has some.
"""

import argparse
import http.client
import http.server
import re
import sys
import threading
import time

HOP_BY_HOP = {"connection", "keep-alive", "transfer-encoding", "te", "trailer", "upgrade",
              "proxy-authorization", "proxy-authenticate", "content-length", "host"}
MALFORMED = (b'<?xml version="1.0" encoding="utf-8"?>\n<D:multistatus xmlns:D="DAV:">'
             b'<D:response><D:href>/x/</D:href><D:propstat><D:prop>')
EMPTY = b'<?xml version="1.0" encoding="utf-8"?>\n<D:multistatus xmlns:D="DAV:"/>\n'
FORBIDDEN_ITEM = re.compile(rb"<([A-Za-z0-9]+:)?response>.*?</([A-Za-z0-9]+:)?response>", re.S)
HREF = re.compile(rb"<([A-Za-z0-9]+:)?href>([^<]*\.ics)</([A-Za-z0-9]+:)?href>")


def forbid(match):
    """One <response> of an item, replaced by a response of status 403 for the same href."""
    href = HREF.search(match.group(0))
    if not href:
        return match.group(0)
    ns = match.group(1) or b""
    return (b"<%sresponse><%shref>%s</%shref><%sstatus>HTTP/1.1 403 Forbidden</%sstatus></%sresponse>"
            % (ns, ns, href.group(2), ns, ns, ns, ns))


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, format, *args):
        pass

    def handle_any(self):
        length = int(self.headers.get("Content-Length") or 0)
        body = self.rfile.read(length) if length else b""
        auth = "auth" if self.headers.get("Authorization") else "noauth"
        with self.server.lock:
            with open(self.server.log, "a") as log:
                log.write("%s %s %s\n" % (self.command, self.path, auth))
        mailbox = self.path.lstrip("/").split("/", 1)[0]
        fault = self.server.faults.get(mailbox, self.server.fallback)
        if fault == "hang":
            while not self.server.stopping:
                time.sleep(0.1)
            self.close_connection = True
            return
        if fault == "malformed":
            self.answer(207, MALFORMED, "application/xml; charset=utf-8")
            return
        if fault.startswith("redirect:"):
            target = fault[len("redirect:"):] + self.path.lstrip("/")
            self.send_response(301)
            self.send_header("Location", target)
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        if fault == "record":
            if auth == "noauth":
                self.send_response(401)
                self.send_header("WWW-Authenticate", 'Basic realm="record"')
                self.send_header("Content-Length", "0")
                self.end_headers()
            else:
                self.answer(207, EMPTY, "application/xml; charset=utf-8")
            return
        if fault == "nosync" and self.command == "REPORT" and b"sync-collection" in body:
            self.answer(501, b"", "text/plain")
            return
        status, headers, data = self.forward(body)
        if fault == "noctag":
            data = re.sub(rb"<([A-Za-z0-9]+:)?getctag */>|<([A-Za-z0-9]+:)?getctag>[^<]*</"
                          rb"([A-Za-z0-9]+:)?getctag>", b"", data)
        if fault == "forbidden" and self.command == "REPORT":
            data = FORBIDDEN_ITEM.sub(forbid, data)
        if fault == "cut":
            self.send_response(status)
            for name, value in headers:
                self.send_header(name, value)
            self.send_header("Content-Length", str(len(data)))
            self.end_headers()
            self.wfile.write(data[: len(data) // 2])
            self.wfile.flush()
            self.close_connection = True
            return
        self.send_response(status)
        for name, value in headers:
            self.send_header(name, value)
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)

    def answer(self, status, data, content_type):
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)

    def forward(self, body):
        connection = http.client.HTTPConnection("127.0.0.1", self.server.upstream, timeout=60)
        headers = {k: v for k, v in self.headers.items()
                   if k.lower() not in HOP_BY_HOP and k.lower() != "accept-encoding"}
        connection.request(self.command, self.path, body=body, headers=headers)
        response = connection.getresponse()
        data = response.read()
        kept = [(k, v) for k, v in response.getheaders() if k.lower() not in HOP_BY_HOP]
        connection.close()
        return response.status, kept, data

    do_GET = do_PUT = do_DELETE = do_PROPFIND = do_REPORT = do_OPTIONS = handle_any
    do_MKCOL = do_MKCALENDAR = do_PROPPATCH = do_POST = handle_any


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--upstream", type=int, default=0)
    parser.add_argument("--log", required=True)
    parser.add_argument("--fallback", choices=["proxy", "record"], default="proxy")
    parser.add_argument("--fault", action="append", default=[])
    options = parser.parse_args()

    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    server.upstream = options.upstream
    server.log = options.log
    server.fallback = options.fallback
    server.faults = dict(f.split("=", 1) for f in options.fault)
    server.lock = threading.Lock()
    server.stopping = False
    open(options.log, "w").close()
    threading.Thread(target=server.serve_forever, daemon=True).start()
    print("PORT %d" % server.server_address[1], flush=True)
    sys.stdin.read()
    server.stopping = True
    server.shutdown()


if __name__ == "__main__":
    main()
