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
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "lib"))
from html_lint import lint_report  # noqa: E402

SAMPLE = os.path.join(HERE, "..", "stylesheet", "samples", "GlobalLog_20261208.xml")
KEY = r"HKLM\Software\Pelko"


WINE = os.environ.get("WINE")
SENDRIK, PELKOREG = None, None


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

    def last_mail_result(self):
        """The kind of the last failure the program recorded for check, 0 once sent."""
        tool = [WINE, "reg"] if WINE else [self.pelkoreg]
        done = subprocess.run(tool + ["query", KEY, "/v", "LastMailResult"], env=self.env,
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=60,
                              cwd="/", text=True)
        found = re.search(r"REG_DWORD\s+0x([0-9a-f]+)", done.stdout)
        return int(found.group(1), 16) if found else None

    def unreg(self, name):
        self.registry("delete", KEY, "/v", name, "/f")

    def configure(self, port, security, **extra):
        for name in ("MailUser", "MailPassword", "MailCaFile", "MailSubject", "CostUnit"):
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
        if digest is not None and digest != sha(self.global_log):
            raise AssertionError("the mail program changed the global log")
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


class Sendrik(unittest.TestCase):
    """One site (settings, logs, a CA of its own) for every case; each case
    configures the settings it needs and starts its own SMTP servers."""

    @classmethod
    def setUpClass(cls):
        work = tempfile.mkdtemp(dir=os.environ.get("WINE_TEST_DIR"))
        cls.site = site = Site(work, SENDRIK, PELKOREG)
        site.cert, site.key = os.path.join(work, "cert.pem"), os.path.join(work, "key.pem")
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                        "-keyout", site.key, "-out", site.cert, "-subj", "/CN=localhost",
                        "-addext", "subjectAltName=DNS:localhost,IP:127.0.0.1"],
                       check=True, capture_output=True, timeout=60)

    @classmethod
    def tearDownClass(cls):
        cls.site.stop()
        shutil.rmtree(cls.site.work, ignore_errors=True)

    def check_message(self, what, out):
        message, envelope = received(out)
        self.assertIsNotNone(message, f"{what}: the message arrived")
        self.assertEqual(envelope.splitlines()[1:3], ["boss@example.com", "anna@example.com"],
                         f"{what}: to both recipients")
        self.assertEqual(str(message["Subject"]), "Print report 2026/12/08: total 1 250",
                         f"{what}: subject with the date and the total")
        parts = {p.get_content_type(): p for p in message.walk()}
        attached = parts.get("application/xml")
        with open(self.site.global_log, "rb") as f:
            original = f.read()
        self.assertEqual(attached.get_payload(decode=True) if attached else None, original,
                         f"{what}: the log attached byte for byte")
        self.assertEqual(attached.get_filename() if attached else None, "GlobalLog_20261208.xml",
                         f"{what}: attached as its own name")
        html = parts["text/html"]
        self.assertEqual(html.get_content_charset(), "windows-1252", f"{what}: HTML declared windows-1252")
        raw = html.get_payload(decode=True)
        page = os.path.join(self.site.work, "mailed.html")
        with open(page, "wb") as f:
            f.write(raw)
        self.assertEqual(lint_report(page), (0, b""), f"{what}: HTML well-formed for xmllint")
        text = raw.decode("cp1252")
        figures = dict(re.findall(r'id="(total|pages|jobs|users|printers)">([^<]*)<', text))
        self.assertEqual({k: v.replace("&#8239;", "\u202f") for k, v in figures.items()},
                         {"total": "1\u202f250", "pages": "34", "jobs": "6", "users": "4",
                          "printers": "3"}, f"{what}: HTML totals")
        self.assertIn(b"J\xfcrgen", raw, f"{what}: an ANSI name as the byte it is")
        plain = parts["text/plain"].get_payload(decode=True).decode("cp1252")
        self.assertIn("Total cost: 1 250", plain, f"{what}: the text part has the total")
        return envelope

    def sent(self, what):
        """Runs the mail program, which must succeed; its new log line."""
        status, _, line = self.site.send()
        self.assertEqual((status, "" if status == 0 else line), (0, ""), f"{what}: exit 0")
        return line

    def fault(self, what, words, code=1, bound=15, kind=None):
        """Runs the mail program, which must fail with a clear line, in time,
        and record the failure's kind (its event ID) for check."""
        with self.subTest(what):
            status, took, line = self.site.send()
            if WINE:
                bound += 10  # Wine's start
            self.assertEqual((status, "not sent" in line and words in line), (code, True),
                             f"exit {code} and says '{words}'; log: {line.strip()}")
            self.assertLess(took, bound, f"within {bound} s")
            if kind is not None:
                self.assertEqual(self.site.last_mail_result(), kind, f"{what}: recorded as {kind}")

    def test_plain_smtp_without_a_login(self):
        site = self.site
        port, out = site.server("--mode", "plain")
        site.configure(port, 0)
        line = self.sent("plain")
        self.assertIn(" sent GlobalLog_20261208.xml (6 jobs, total 1250)", line, "plain: the log says sent")
        envelope = self.check_message("plain", out)
        self.assertTrue("login=None" in envelope and "tls=False" in envelope, "plain: no login, no TLS")

    def test_cost_unit_shows_the_log_cents_as_euros(self):
        site = self.site
        port, out = site.server("--mode", "plain")
        site.configure(port, 0, CostUnit="EUR/2")
        self.sent("CostUnit")
        message, _ = received(out)
        parts = {p.get_content_type(): p for p in message.walk()}
        self.assertEqual(str(message["Subject"]), "Print report 2026/12/08: total 12.50 EUR")
        self.assertIn("Total cost: 12.50 EUR", parts["text/plain"].get_payload(decode=True).decode("cp1252"))
        self.assertIn(b'id="total">12.50 EUR<', parts["text/html"].get_payload(decode=True))

    def test_starttls_required_with_a_login(self):
        # The test's CA is trusted through MailCaFile.
        site = self.site
        port, out = site.server("--mode", "starttls", "--auth", "clerk:s3cret w0rd")
        site.configure(port, 1, MailUser="clerk", MailCaFile=site.cert)
        self.assertEqual(site.password("s3cret w0rd"), 0, "/setpassword: from standard input, exit 0")
        line = self.sent("starttls+auth")
        envelope = self.check_message("starttls+auth", out)
        self.assertTrue("login=b'clerk'" in envelope and "tls=True" in envelope,
                        "starttls+auth: logged in over TLS")
        self.assertNotIn("s3cret", line, "starttls+auth: the password is in no log line")

    def test_implicit_tls_with_a_login(self):
        site = self.site
        port, out = site.server("--mode", "tls", "--auth", "clerk:pw")
        site.configure(port, 2, MailUser="clerk", MailCaFile=site.cert)
        site.password("pw")
        line = self.sent("tls+auth")
        self.assertIn("smtps://localhost:%d (TLS) as clerk" % port, line, "tls+auth: the log names smtps")
        envelope = self.check_message("tls+auth", out)
        self.assertIn("login=b'clerk'", envelope, "tls+auth: logged in")

    def test_a_full_sendrik_log_is_set_aside_whole(self):
        site = self.site
        port, out = site.server("--mode", "plain")
        site.configure(port, 0)
        log = os.path.join(site.logs, "Sendrik.log")
        with open(log, "ab") as f:
            f.write(b"x" * (300 << 10) + b"\n")
        site.send()
        self.assertEqual((os.path.getsize(log + ".old") > 300 << 10, os.path.getsize(log) < 4096),
                         (True, True), "Sendrik.log: a full log moves to Sendrik.log.old, a new one begins")

    # Faults: each a clear line, a non-zero exit and nothing mailed.
    def test_connection_faults(self):
        site = self.site
        port, out = site.server("--mode", "plain")
        site.stop()
        site.configure(port, 0)
        self.fault("no server", "cannot connect to 127.0.0.1:%d" % port, kind=4010)

        port, out = site.server("--mode", "starttls", "--auth", "clerk:right")
        site.configure(port, 1, MailUser="clerk", MailCaFile=site.cert)
        site.password("wrong")
        self.fault("refused login", "refused the login of clerk", kind=4011)
        self.assertIsNone(received(out)[0], "refused login: nothing arrived")

        port, out = site.server("--mode", "plain", "--refuse", "anna@example.com")
        site.configure(port, 0)
        self.fault("refused recipient", "550 5.1.1", kind=4013)
        self.assertIsNone(received(out)[0], "refused recipient: nothing arrived")

        port, out = site.server("--mode", "starttls")
        site.configure(port, 1)
        self.fault("untrusted certificate", "is not trusted", kind=4012)

        port, out = site.server("--mode", "plain")
        site.configure(port, 1)
        self.fault("STARTTLS required but not offered", "offers no STARTTLS", kind=4012)

    def test_starttls_where_offered(self):
        # Plain where the server lacks it, encrypted (and so checked) where
        # it has it.
        site = self.site
        for mode, tls, what in (("plain", False, "sent plain"), ("starttls", True, "encrypted")):
            port, out = site.server("--mode", mode)
            extra = {"MailCaFile": site.cert} if tls else {}
            site.configure(port, 3, **extra)
            self.sent(f"STARTTLS where offered, {what}")
            self.assertIn(f"tls={tls}", received(out)[1], f"STARTTLS where offered, {what}")
        port, out = site.server("--mode", "starttls")
        site.configure(port, 3)
        self.fault("STARTTLS where offered, untrusted certificate", "is not trusted")

    def test_a_server_that_stops_answering(self):
        site = self.site
        port, out = site.server("--mode", "plain", "--stall")
        site.configure(port, 0)
        self.fault("server stops answering after the message", "stopped answering")
        port, out = site.server("--silent")
        site.configure(port, 0)
        self.fault("server greets and falls silent", "stopped answering", kind=4010)

    def test_bad_file_and_settings(self):
        site = self.site
        port, out = site.server("--mode", "plain")
        site.configure(port, 0)
        site.unreg("ToSendFile")
        self.fault("ToSendFile missing", "ToSendFile (REG_SZ) is not set", 2, 5, kind=4015)
        site.reg("ToSendFile", os.path.join(site.logs, "GlobalLog_20261201.xml"))
        self.fault("ToSendFile names a gone file", "which is not there", 2, 5)
        cut = os.path.join(site.logs, "GlobalLog_20261202.xml")
        with open(site.global_log, "rb") as f, open(cut, "wb") as g:
            g.write(f.read()[:500])
        site.reg("ToSendFile", cut)
        self.fault("a log cut short", "not a complete log file", 2, 5)
        huge = os.path.join(site.logs, "GlobalLog_20261203.xml")
        with open(huge, "wb") as f:
            f.truncate(200 << 20)
        site.reg("ToSendFile", huge)
        self.fault("a huge log", "is larger than 128 MiB", 2, 5)
        os.remove(huge)
        site.reg("ToSendFile", site.global_log)
        site.reg("MailServer", 7, "REG_DWORD")
        self.fault("MailServer of the wrong type", "MailServer (REG_SZ) is not set", 2, 5)
        site.reg("MailServer", "127.0.0.1")
        site.reg("MailSecurity", 7, "REG_DWORD")
        self.fault("MailSecurity out of range", "MailSecurity 7 is none of", 2, 5)
        site.reg("MailSecurity", "0")
        site.reg("MailTo", "boss@example.com; not an address")
        self.fault("MailTo with no address", "'not an address', which is no mail address", 2, 5)
        site.reg("MailTo", "boss@example.com")
        site.reg("MailPassword", 1234, "REG_DWORD")
        self.fault("MailPassword of the wrong type", "MailPassword is not a", 2, 5)
        site.unreg("MailPassword")
        status, _, line = site.send()
        self.assertEqual((status, "MailSecurity is not a REG_DWORD" in line, "offers no STARTTLS" in line),
                         (1, True, True),
                         "MailSecurity as REG_SZ reads as missing: STARTTLS required, said in a note")
        self.assertIsNone(received(out)[0], "nothing arrived through all the faults")


if __name__ == "__main__":
    if sys.argv[1:2] == ["--wine"]:
        if not WINE or len(sys.argv) != 3:
            sys.exit("--wine: run it through tests/sendrik/sendrik_wine.sh")
        SENDRIK = os.path.abspath(sys.argv[2])
    elif len(sys.argv) == 3:
        SENDRIK, PELKOREG = (os.path.abspath(p) for p in sys.argv[1:3])
    else:
        sys.exit(__doc__)
    unittest.main(argv=[sys.argv[0], "-v"])
