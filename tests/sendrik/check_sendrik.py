#!/usr/bin/python3
"""The mail program against a real SMTP server (aiosmtpd) on loopback: the
message arrives with the log attached byte for byte and a well-formed HTML
report of the right totals, in each TLS mode and with a login; every fault
gives a clear line in Sendrik.log and a non-zero exit, within bounds, and
the log is never changed.
Usage: check_sendrik.py SENDRIK PELKOREG
       check_sendrik.py --wine SENDRIK.EXE   (in a prefix made by tests/wine/wine-env.sh)"""
import email
import email.policy
import hashlib
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "lib"))
from checks import check, summary  # noqa: E402
SAMPLE = os.path.join(HERE, "..", "stylesheet", "samples", "GlobalLog_20261208.xml")
KEY = r"HKLM\Software\Pelko"


WINE = os.environ.get("WINE")


def native(path):
    """The path as the program under test names it."""
    return "Z:" + path.replace("/", "\\") if WINE else path


class Site:
    def __init__(self, work, sendrik, pelkoreg):
        self.work, self.sendrik, self.pelkoreg = work, sendrik, pelkoreg
        self.env = dict(os.environ, PELKO_REGISTRY=os.path.join(work, "registry"))
        self.command = [WINE, sendrik] if WINE else [sendrik]
        self.logs = os.path.join(work, "pelko", "Logs")
        os.makedirs(self.logs)
        self.global_log = os.path.join(self.logs, "GlobalLog_20261208.xml")
        shutil.copy(SAMPLE, self.global_log)
        self.servers = []

    def registry(self, *args):
        tool = [WINE, "reg"] if WINE else [self.pelkoreg]
        # No pipes: Wine's own services would hold them open long after.
        return subprocess.run(tool + list(args), env=self.env, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL, timeout=60, cwd="/")

    def reg(self, name, data, kind="REG_SZ"):
        if kind == "REG_SZ" and str(data).startswith("/"):
            data = native(data)
        done = self.registry("add", KEY, "/v", name, "/t", kind, "/d", str(data), "/f")
        if done.returncode != 0:
            raise RuntimeError(f"setting {name} failed")

    def unreg(self, name):
        self.registry("delete", KEY, "/v", name, "/f")

    def configure(self, port, security, **extra):
        for name in ("MailUser", "MailPassword", "MailCaFile", "MailSubject"):
            self.unreg(name)
        self.reg("Path", os.path.join(self.work, "pelko"))
        self.reg("ToSendFile", self.global_log)
        self.reg("MailServer", "localhost" if security else "127.0.0.1")
        self.reg("MailPort", port, "REG_DWORD")
        self.reg("MailSecurity", security, "REG_DWORD")
        self.reg("MailFrom", "pelko@example.com")
        self.reg("MailTo", "boss@example.com; Anna <anna@example.com>")
        self.reg("MailTimeout", 2, "REG_DWORD")
        for name, data in extra.items():
            self.reg(name, data, "REG_DWORD" if isinstance(data, int) else "REG_SZ")

    def server(self, *args):
        out = tempfile.mkdtemp(dir=self.work)
        p = subprocess.Popen(["/usr/bin/python3", os.path.join(HERE, "smtp_server.py"), "--out", out,
                              "--cert", self.cert, "--key", self.key, "--lifetime", "60", *args],
                             stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        self.servers.append(p)
        line = p.stdout.readline()
        if not line.startswith("ready "):
            raise RuntimeError("the test SMTP server did not start")
        return int(line.split()[1]), out

    def send(self):
        """Runs the mail program; its exit status, seconds taken, and its new log line."""
        log = os.path.join(self.logs, "Sendrik.log")
        before = os.path.getsize(log) if os.path.exists(log) else 0
        digest = sha(self.global_log) if os.path.exists(self.global_log) else None
        start = time.monotonic()
        p = subprocess.run(self.command, env=self.env, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=90)
        took = time.monotonic() - start
        if digest is not None:
            check("the global log is unchanged", digest, sha(self.global_log))
        with open(log, "rb") as f:
            f.seek(before)
            lines = f.read().decode("latin-1")
        return p.returncode, took, lines

    def password(self, text):
        done = subprocess.run(self.command + ["/setpassword"], input=text.encode() + b"\n",
                              env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                              timeout=90)
        return done.returncode

    def stop(self):
        for p in self.servers:
            p.kill()
            p.wait(timeout=10)


def sha(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def received(out):
    names = sorted(n for n in os.listdir(out) if n.endswith(".eml"))
    if not names:
        return None, ""
    with open(os.path.join(out, names[0]), "rb") as f:
        message = email.message_from_binary_file(f, policy=email.policy.default)
    with open(os.path.join(out, names[0][:-4] + ".env")) as f:
        return message, f.read()


def check_message(site, what, out):
    message, envelope = received(out)
    check(f"{what}: the message arrived", True, message is not None)
    if message is None:
        return envelope
    check(f"{what}: to both recipients", ["boss@example.com", "anna@example.com"],
          envelope.splitlines()[1:3])
    check(f"{what}: subject with the date and the total", "Print report 2026/12/08: total 1 250",
          str(message["Subject"]))
    parts = {p.get_content_type(): p for p in message.walk()}
    attached = parts.get("application/xml")
    with open(site.global_log, "rb") as f:
        original = f.read()
    check(f"{what}: the log attached byte for byte", original,
          attached.get_payload(decode=True) if attached else None)
    check(f"{what}: attached as its own name", "GlobalLog_20261208.xml",
          attached.get_filename() if attached else None)
    html = parts["text/html"]
    check(f"{what}: HTML declared windows-1252", "windows-1252", html.get_content_charset())
    raw = html.get_payload(decode=True)
    page = os.path.join(site.work, "mailed.html")
    with open(page, "wb") as f:
        f.write(raw)
    lint = subprocess.run(["xmllint", "--html", "--noout", page], capture_output=True, timeout=30)
    check(f"{what}: HTML well-formed for xmllint", (0, b""), (lint.returncode, lint.stdout + lint.stderr))
    text = raw.decode("cp1252")
    figures = dict(re.findall(r'id="(total|pages|jobs|users|printers)">([^<]*)<', text))
    check(f"{what}: HTML totals", {"total": "1\u202f250", "pages": "34", "jobs": "6", "users": "4",
                                   "printers": "3"},
          {k: v.replace("&#8239;", "\u202f") for k, v in figures.items()})
    check(f"{what}: an ANSI name as the byte it is", True, b"J\xfcrgen" in raw)
    plain = parts["text/plain"].get_payload(decode=True).decode("cp1252")
    check(f"{what}: the text part has the total", True, "Total cost: 1 250" in plain)
    return envelope


def main():
    if sys.argv[1] == "--wine":
        if not WINE:
            sys.exit("--wine: run it through tests/sendrik/sendrik_wine.sh")
        sendrik, pelkoreg = os.path.abspath(sys.argv[2]), None
    else:
        sendrik, pelkoreg = (os.path.abspath(p) for p in sys.argv[1:3])
    work = tempfile.mkdtemp(dir=os.environ.get("WINE_TEST_DIR"))
    site = Site(work, sendrik, pelkoreg)
    try:
        site.cert, site.key = os.path.join(work, "cert.pem"), os.path.join(work, "key.pem")
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                        "-keyout", site.key, "-out", site.cert, "-subj", "/CN=localhost",
                        "-addext", "subjectAltName=DNS:localhost,IP:127.0.0.1"],
                       check=True, capture_output=True, timeout=60)
        run_cases(site)
    finally:
        site.stop()
        shutil.rmtree(work, ignore_errors=True)
    return summary()


def run_cases(site):
    # Plain SMTP without a login.
    port, out = site.server("--mode", "plain")
    site.configure(port, 0)
    status, _, line = site.send()
    check("plain: exit 0", 0, status)
    check("plain: the log says sent", True, " sent GlobalLog_20261208.xml (6 jobs, total 1250)" in line)
    envelope = check_message(site, "plain", out)
    check("plain: no login, no TLS", True, "login=None" in envelope and "tls=False" in envelope)

    # STARTTLS (required) with a login, the test's CA trusted through MailCaFile.
    port, out = site.server("--mode", "starttls", "--auth", "clerk:s3cret w0rd")
    site.configure(port, 1, MailUser="clerk", MailCaFile=site.cert)
    check("/setpassword: from standard input, exit 0", 0, site.password("s3cret w0rd"))
    status, _, line = site.send()
    check("starttls+auth: exit 0", (0, ""), (status, "" if status == 0 else line))
    envelope = check_message(site, "starttls+auth", out)
    check("starttls+auth: logged in over TLS", True, "login=b'clerk'" in envelope and "tls=True" in envelope)
    check("starttls+auth: the password is in no log line", False, "s3cret" in line)

    # Implicit TLS with a login.
    port, out = site.server("--mode", "tls", "--auth", "clerk:pw")
    site.configure(port, 2, MailUser="clerk", MailCaFile=site.cert)
    site.password("pw")
    status, _, line = site.send()
    check("tls+auth: exit 0", (0, ""), (status, "" if status == 0 else line))
    check("tls+auth: the log names smtps", True, "smtps://localhost:%d (TLS) as clerk" % port in line)
    envelope = check_message(site, "tls+auth", out)
    check("tls+auth: logged in", True, "login=b'clerk'" in envelope)

    # The program's own log stays small: a full one is set aside whole.
    log = os.path.join(site.logs, "Sendrik.log")
    with open(log, "ab") as f:
        f.write(b"x" * (300 << 10) + b"\n")
    site.send()
    check("Sendrik.log: a full log moves to Sendrik.log.old, a new one begins",
          (True, True), (os.path.getsize(log + ".old") > 300 << 10, os.path.getsize(log) < 4096))

    # Faults: each a clear line, a non-zero exit and nothing mailed.
    def fault(what, words, code=1, bound=15):
        status, took, line = site.send()
        check(f"{what}: exit {code}", code, status)
        check(f"{what}: says '{words}'", True, "not sent" in line and words in line)
        if WINE:
            bound += 10  # Wine's start
        check(f"{what}: within {bound} s", True, took < bound)
        if status != code or words not in line:
            print("   log:", line.strip())

    port, out = site.server("--mode", "plain")
    site.stop()
    site.configure(port, 0)
    fault("no server", "cannot connect to 127.0.0.1:%d" % port)

    port, out = site.server("--mode", "starttls", "--auth", "clerk:right")
    site.configure(port, 1, MailUser="clerk", MailCaFile=site.cert)
    site.password("wrong")
    fault("refused login", "refused the login of clerk")
    check("refused login: nothing arrived", None, received(out)[0])

    port, out = site.server("--mode", "plain", "--refuse", "anna@example.com")
    site.configure(port, 0)
    fault("refused recipient", "550 5.1.1")
    check("refused recipient: nothing arrived", None, received(out)[0])

    port, out = site.server("--mode", "starttls")
    site.configure(port, 1)
    fault("untrusted certificate", "is not trusted")

    port, out = site.server("--mode", "plain")
    site.configure(port, 1)
    fault("STARTTLS required but not offered", "offers no STARTTLS")

    # STARTTLS where offered: plain where the server lacks it, encrypted
    # (and so checked) where it has it.
    for mode, tls, what in (("plain", False, "sent plain"), ("starttls", True, "encrypted")):
        port, out = site.server("--mode", mode)
        extra = {"MailCaFile": site.cert} if tls else {}
        site.configure(port, 3, **extra)
        status, _, line = site.send()
        check(f"STARTTLS where offered, {what}: exit 0", (0, ""), (status, "" if status == 0 else line))
        check(f"STARTTLS where offered, {what}: tls={tls}", True, f"tls={tls}" in received(out)[1])
    port, out = site.server("--mode", "starttls")
    site.configure(port, 3)
    fault("STARTTLS where offered, untrusted certificate", "is not trusted")

    port, out = site.server("--mode", "plain", "--stall")
    site.configure(port, 0)
    fault("server stops answering after the message", "stopped answering")

    port, out = site.server("--silent")
    site.configure(port, 0)
    fault("server greets and falls silent", "stopped answering")

    # The file and the settings.
    port, out = site.server("--mode", "plain")
    site.configure(port, 0)
    site.unreg("ToSendFile")
    fault("ToSendFile missing", "ToSendFile (REG_SZ) is not set", 2, 5)
    site.reg("ToSendFile", os.path.join(site.logs, "GlobalLog_20261201.xml"))
    fault("ToSendFile names a gone file", "which is not there", 2, 5)
    cut = os.path.join(site.logs, "GlobalLog_20261202.xml")
    with open(site.global_log, "rb") as f, open(cut, "wb") as g:
        g.write(f.read()[:500])
    site.reg("ToSendFile", cut)
    fault("a log cut short", "not a complete log file", 2, 5)
    huge = os.path.join(site.logs, "GlobalLog_20261203.xml")
    with open(huge, "wb") as f:
        f.truncate(200 << 20)
    site.reg("ToSendFile", huge)
    fault("a huge log", "is larger than 128 MiB", 2, 5)
    os.remove(huge)
    site.reg("ToSendFile", site.global_log)
    site.reg("MailServer", 7, "REG_DWORD")
    fault("MailServer of the wrong type", "MailServer (REG_SZ) is not set", 2, 5)
    site.reg("MailServer", "127.0.0.1")
    site.reg("MailSecurity", 7, "REG_DWORD")
    fault("MailSecurity out of range", "MailSecurity 7 is none of", 2, 5)
    site.reg("MailSecurity", "0")
    site.reg("MailTo", "boss@example.com; not an address")
    fault("MailTo with no address", "'not an address', which is no mail address", 2, 5)
    site.reg("MailTo", "boss@example.com")
    site.reg("MailPassword", 1234, "REG_DWORD")
    fault("MailPassword of the wrong type", "MailPassword is not a", 2, 5)
    site.unreg("MailPassword")
    status, _, line = site.send()
    check("MailSecurity as REG_SZ reads as missing: STARTTLS required, said in a note",
          (1, True, True), (status, "MailSecurity is not a REG_DWORD" in line, "offers no STARTTLS" in line))
    check("nothing arrived through all the faults", None, received(out)[0])


if __name__ == "__main__":
    sys.exit(main())
