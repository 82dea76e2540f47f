#!/usr/bin/python3
"""A real SMTP server for the mail program's tests (Debian's aiosmtpd), on
loopback. Writes each accepted message to OUT/N.eml and the envelope to
OUT/N.env; prints "ready PORT" once it listens. Ends by itself after
--lifetime seconds.

  --mode plain|starttls|tls   STARTTLS offered (and required) or implicit TLS
  --auth USER:PASS            a login is required, and only this one works
  --refuse ADDRESS            RCPT TO this address is refused (550)
  --stall                     after the message's data, never answer
  --silent                    greet, then never answer anything
"""
import argparse
import asyncio
import os
import socket
import ssl
import sys
import threading
import time

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import AuthResult, LoginPassword


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--out", required=True)
    ap.add_argument("--mode", default="plain", choices=["plain", "starttls", "tls"])
    ap.add_argument("--cert")
    ap.add_argument("--key")
    ap.add_argument("--auth")
    ap.add_argument("--refuse")
    ap.add_argument("--stall", action="store_true")
    ap.add_argument("--silent", action="store_true")
    ap.add_argument("--lifetime", type=float, default=120)
    a = ap.parse_args()
    os.makedirs(a.out, exist_ok=True)

    if a.silent:
        listener = socket.socket()
        listener.bind(("127.0.0.1", 0))
        listener.listen(5)
        print(f"ready {listener.getsockname()[1]}", flush=True)
        held = []
        listener.settimeout(a.lifetime)
        deadline = time.time() + a.lifetime
        while time.time() < deadline:
            try:
                conn, _ = listener.accept()
            except OSError:
                break
            conn.sendall(b"220 silent ESMTP\r\n")
            held.append(conn)
        return

    class Handler:
        count = 0

        async def handle_RCPT(self, server, session, envelope, address, options):
            if a.refuse and address.lower() == a.refuse.lower():
                return "550 5.1.1 no such mailbox here"
            envelope.rcpt_tos.append(address)
            return "250 OK"

        async def handle_DATA(self, server, session, envelope):
            if a.stall:
                await asyncio.sleep(a.lifetime)
            n = Handler.count
            Handler.count += 1
            with open(os.path.join(a.out, f"{n}.eml"), "wb") as f:
                f.write(envelope.original_content)
            with open(os.path.join(a.out, f"{n}.env"), "w") as f:
                f.write(envelope.mail_from + "\n" + "\n".join(envelope.rcpt_tos) + "\n")
                f.write(f"login={getattr(session, 'auth_data', None)!r}\n")
                f.write(f"tls={session.ssl is not None}\n")
            return "250 2.0.0 queued"

    def authenticator(server, session, envelope, mechanism, data):
        if not isinstance(data, LoginPassword):
            return AuthResult(success=False, handled=False)
        user, password = a.auth.encode().split(b":", 1)
        ok = data.login == user and data.password == password
        return AuthResult(success=ok, handled=False, auth_data=data.login if ok else None)

    context = None
    if a.mode != "plain":
        context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        context.load_cert_chain(a.cert, a.key)
    kwargs = dict(data_size_limit=1 << 30, timeout=a.lifetime)
    if a.mode == "starttls":
        kwargs.update(tls_context=context, require_starttls=True)
    if a.auth:
        kwargs.update(authenticator=authenticator, auth_required=True,
                      auth_require_tls=a.mode == "starttls")
    port = free_port()
    controller = Controller(Handler(), hostname="127.0.0.1", port=port,
                            ssl_context=context if a.mode == "tls" else None,
                            server_hostname="localhost", **kwargs)
    controller.start()
    print(f"ready {port}", flush=True)
    done = threading.Event()
    done.wait(a.lifetime)
    controller.stop()


def free_port():
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


if __name__ == "__main__":
    sys.exit(main())
