#!/usr/bin/python3
"""A loopback SMTP server for the transport tests, on Debian's aiosmtpd.

Listens on 127.0.0.1 at a port the kernel picks (or --port), prints "PORT <n>" on one line, and serves until
its standard input closes (so it ends with the test that started it). Every accepted message is
written to the spool directory as <n>.eml (the data exactly as received, after the server removed
the dot-stuffing) and <n>.env (the envelope: the sender, then one recipient a line); each file
appears whole, by rename. The modes make it refuse at chosen steps.
"""

import argparse
import asyncio
import logging
import os
import ssl
import sys
import threading
import warnings

from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword


def write_whole(path, data):
    temporary = path + ".tmp"
    with open(temporary, "wb") as f:
        f.write(data)
    os.rename(temporary, path)


class Handler:
    def __init__(self, spool, mode):
        self.spool = spool
        self.mode = mode
        self.count = 0

    async def handle_MAIL(self, server, session, envelope, address, options):
        if self.mode == "refuse-sender":
            return "550 5.7.1 Sender refused"
        envelope.mail_from = address
        envelope.mail_options.extend(options)
        return "250 OK"

    async def handle_RCPT(self, server, session, envelope, address, options):
        if self.mode == "refuse-recipient":
            return "550 5.1.1 No such user here"
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        if self.mode == "refuse-data":
            return "554 5.6.0 Message refused"
        self.count += 1
        base = os.path.join(self.spool, str(self.count))
        env = envelope.mail_from + "\n" + "".join(r + "\n" for r in envelope.rcpt_tos)
        write_whole(base + ".eml", envelope.original_content)
        write_whole(base + ".env", env.encode())
        return "250 OK"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--spool", required=True)
    parser.add_argument("--mode", default="accept",
                        choices=["accept", "refuse-recipient", "refuse-sender", "refuse-data"])
    parser.add_argument("--tls", choices=["none", "implicit", "starttls"], default="none")
    parser.add_argument("--cert")
    parser.add_argument("--key")
    parser.add_argument("--auth", help="USER:PASSWORD that AUTH must present")
    parser.add_argument("--port", type=int, default=0, help="0: a free port")
    args = parser.parse_args()
    # AUTH without TLS is what the tests want; aiosmtpd's warnings about it are noise here.
    warnings.simplefilter("ignore")
    logging.getLogger("mail.log").setLevel(logging.CRITICAL)

    context = None
    if args.tls != "none":
        context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        context.load_cert_chain(args.cert, args.key)

    authenticator = None
    if args.auth:
        user, password = args.auth.split(":", 1)

        def authenticator(server, session, envelope, mechanism, data):
            ok = (isinstance(data, LoginPassword) and data.login == user.encode()
                  and data.password == password.encode())
            return AuthResult(success=ok, handled=False)

    handler = Handler(args.spool, args.mode)
    loop = asyncio.new_event_loop()
    asyncio.set_event_loop(loop)

    def factory():
        return SMTP(handler, hostname="localhost", loop=loop,
                    tls_context=context if args.tls == "starttls" else None,
                    require_starttls=args.tls == "starttls",
                    authenticator=authenticator, auth_required=bool(args.auth),
                    auth_require_tls=False)

    server = loop.run_until_complete(loop.create_server(
        factory, host="127.0.0.1", port=args.port, reuse_address=True,
        ssl=context if args.tls == "implicit" else None))
    port = server.sockets[0].getsockname()[1]
    sys.stdout.write("PORT %d\n" % port)
    sys.stdout.flush()

    def wait_for_eof():
        sys.stdin.buffer.read()
        loop.call_soon_threadsafe(loop.stop)

    threading.Thread(target=wait_for_eof, daemon=True).start()
    loop.run_forever()
    server.close()


if __name__ == "__main__":
    main()
