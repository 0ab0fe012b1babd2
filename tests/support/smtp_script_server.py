#!/usr/bin/python3
"""A loopback SMTP server that misbehaves on purpose, for the SMTP fault tests.

Serves one connection at a time on 127.0.0.1 (the port given, or one the kernel picks), prints
"PORT <n>" on one line, and serves until its standard input closes. The first FAILURES
connections meet the fault named by --fault STAGE:ACTION; later ones are served normally.

Stages: greeting, mail, rcpt, data (the reply to the DATA command), dot (the reply after the
final dot). Actions: a reply code such as 421, 451 or 554; "drop" (close the connection instead
of replying; at "dot" the message has been taken, so only the reply is lost); "silent" (never
reply; at "dot" the message has been taken); "drop-before" (at "dot" only: close while the data
is still coming, before the final dot).

Every message taken is written to the spool directory as <n>.eml (the data, dot-stuffing
undone), whole, by rename; <n>.env holds the connection number it came on.
"""

import argparse
import os
import socket
import sys
import threading


def write_whole(path, data):
    with open(path + ".tmp", "wb") as f:
        f.write(data)
    os.rename(path + ".tmp", path)


class Connection:
    def __init__(self, sock, number, fault, spool, counter):
        self.sock = sock
        self.file = sock.makefile("rb")
        self.number = number
        self.stage, self.action = fault if fault else (None, None)
        self.spool = spool
        self.counter = counter

    def send(self, text):
        self.sock.sendall(text.encode() + b"\r\n")

    def hang(self):
        # Never answer; read whatever comes until the client gives up.
        while self.file.readline():
            pass

    # True when the connection is to go on.
    def reply(self, stage, normal):
        if self.stage != stage:
            self.send(normal)
            return True
        if self.action == "drop":
            return False
        if self.action == "silent":
            self.hang()
            return False
        self.send(self.action + " 4.3.0 Fault at " + stage)
        # A 421 closes the connection, as servers do.
        return not self.action.startswith("421")

    def store(self, data):
        self.counter[0] += 1
        base = os.path.join(self.spool, str(self.counter[0]))
        write_whole(base + ".env", str(self.number).encode())
        write_whole(base + ".eml", data)

    def serve(self):
        if not self.reply("greeting", "220 localhost ESMTP scripted"):
            return
        while True:
            line = self.file.readline()
            if not line:
                return
            verb = line.split(b" ")[0].strip().upper()
            if verb in (b"EHLO", b"HELO"):
                self.send("250-localhost\r\n250 SIZE 10000000" if verb == b"EHLO" else "250 localhost")
            elif verb == b"MAIL":
                if not self.reply("mail", "250 2.1.0 OK"):
                    return
            elif verb == b"RCPT":
                if not self.reply("rcpt", "250 2.1.5 OK"):
                    return
            elif verb == b"DATA":
                if not self.reply("data", "354 End data with <CR><LF>.<CR><LF>"):
                    return
                if self.stage == "data":
                    continue  # refused: the client goes on with RSET or QUIT
                data = b""
                while True:
                    chunk = self.file.readline()
                    if not chunk:
                        return
                    if self.stage == "dot" and self.action == "drop-before":
                        return
                    if chunk == b".\r\n":
                        break
                    data += chunk[1:] if chunk.startswith(b".") else chunk
                if self.stage == "dot" and self.action in ("drop", "silent"):
                    self.store(data)  # taken, but the client never hears so
                    self.reply("dot", "")
                    return
                if self.stage == "dot":
                    self.reply("dot", "")
                    continue
                self.store(data)
                self.send("250 2.0.0 Queued")
            elif verb == b"QUIT":
                self.send("221 2.0.0 Bye")
                return
            elif verb in (b"RSET", b"NOOP"):
                self.send("250 2.0.0 OK")
            else:
                self.send("502 5.5.2 Not implemented")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--spool", required=True)
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--fault", default="")
    parser.add_argument("--failures", type=int, default=1)
    args = parser.parse_args()
    fault = tuple(args.fault.split(":", 1)) if args.fault else None

    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", args.port))
    listener.listen(8)
    sys.stdout.write("PORT %d\n" % listener.getsockname()[1])
    sys.stdout.flush()

    def wait_for_eof():
        sys.stdin.buffer.read()
        os._exit(0)

    threading.Thread(target=wait_for_eof, daemon=True).start()
    counter = [0]
    number = 0
    while True:
        sock, _ = listener.accept()
        number += 1
        try:
            Connection(sock, number, fault if number <= args.failures else None,
                       args.spool, counter).serve()
        except OSError:
            pass
        finally:
            sock.close()


if __name__ == "__main__":
    main()
