#!/usr/bin/env python3
"""pelkoreport against logs of known figures: the CSV read back with the csv
module, the HTML checked by xmllint --html and read back for its figures.
Usage: check_pelkoreport.py PELKOREPORT
       check_pelkoreport.py --wine PELKOREPORT.EXE  (in a prefix made by tests/wine/wine-env.sh)"""
import csv
import io
import os
import subprocess
import sys
import tempfile
from html.parser import HTMLParser

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "lib"))
from checks import check, summary  # noqa: E402

PROLOG = (b"<?xml version='1.0' encoding='ISO-8859-1' ?> "
          b"<?xml-stylesheet href='Tavisk.xsl' type='text/xsl' ?>")


def entry(date, job, user, printer, doc, pages, cost):
    return (b"<entry> <date>" + date + b"</date><time>10:00:%02d</time> <id>" % (job % 60) +
            str(job).encode() + b"</id><user>" + user + b"</user> <printer>" + printer +
            b"</printer><doc>" + doc + b"</doc> <pages>" + str(pages).encode() +
            b"</pages> <cost>" + str(cost).encode() + b"</cost></entry>")


def log(kind, date, entries, total):
    return (PROLOG + b"<log> <type>" + kind + b"</type> <date>" + date + b"</date>" +
            b"".join(entries) + b"<entry><user>Total</user><cost>" + str(total).encode() +
            b"</cost></entry></log>")


class Figures(HTMLParser):
    """The text of every element with an id, and the rows of each table."""

    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.stack, self.text, self.tables, self.table, self.row = [], {}, {}, None, None

    def handle_starttag(self, tag, attrs):
        attrs = dict(attrs)
        if tag in ("meta", "br"):
            return
        self.stack.append(attrs.get("id"))
        if tag == "table":
            self.table = self.tables.setdefault(attrs.get("id"), [])
        elif tag == "tr":
            self.row = []
        elif tag in ("td", "th") and self.row is not None:
            self.row.append("")

    def handle_endtag(self, tag):
        if tag in ("meta", "br"):
            return
        self.stack.pop()
        if tag == "tr" and self.table is not None:
            self.table.append(self.row)
            self.row = None

    def handle_data(self, data):
        for i in self.stack:
            if i:
                self.text[i] = self.text.get(i, "") + data
        if self.row:
            self.row[-1] += data


def run(*args):
    p = subprocess.run([*command, *args], capture_output=True, timeout=120)
    return p.returncode, p.stdout, p.stderr.decode("latin-1")


def number(text):
    return int(text.replace("\u202f", "").replace(" ", ""))


if sys.argv[1] == "--wine":
    # Wine's services start with the first program and would hold its pipes.
    subprocess.run([os.environ["WINE"], "cmd", "/c", "exit"], cwd="/", timeout=120,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    command = [os.environ["WINE"], os.path.abspath(sys.argv[2])]
else:
    command = [os.path.abspath(sys.argv[1])]
with tempfile.TemporaryDirectory(dir=os.environ.get("WINE_TEST_DIR")) as work:
    logs = os.path.join(work, "Logs")
    os.makedirs(os.path.join(logs, "old"))
    hp = [entry(b"2026/12/05", 3, b"J\xfcrgen", b"\\\\SRV\\HP", b"Plan \x96 d\xe9cembre, v2.pdf", 4, 20),
          entry(b"2026/12/05", 2, b"anna", b"\\\\SRV\\HP", b"=SUM(A1)", 1, 5),
          entry(b"2026/12/05", 1, b"", b"\\\\SRV\\HP", b"", 0, 0)]
    lab = [entry(b"2026/12/06", 9, b"anna", b"Lab", b"Slides.pptx", 10, 30)]
    col = [entry(b"2026/12/07", 4, b"paul", b"Colour", b"Photo.jpg", 2, 40)]
    files = {"HP_20261205.xml": log(b"\\\\SRV\\HP", b"2026/12/05", hp, 25),
             "Lab_20261206.xml": log(b"Lab", b"2026/12/06", lab, 30),
             os.path.join("old", "Colour_20261207.xml"): log(b"Colour", b"2026/12/07", col, 40),
             "GlobalLog_20261207.xml": log(b"Global Log", b"2026/12/07", hp + lab + col, 95),
             "notes.xml": b"<notes/>"}
    for name, data in files.items():
        with open(os.path.join(logs, name), "wb") as f:
            f.write(data)

    # CSV of the logs folder: every daily job once, the global log left out.
    status, out, err = run("--csv", logs)
    check("csv: exit 0", 0, status)
    rows = list(csv.reader(io.StringIO(out.decode("latin-1"), newline="")))
    check("csv: header", ["date", "time", "id", "user", "printer", "document", "pages", "cost"], rows[0])
    body = rows[1:]
    check("csv: one row per daily job", 5, len(body))
    check("csv: pages add up", 17, sum(int(r[6]) for r in body))
    check("csv: costs add up", 95, sum(int(r[7]) for r in body))
    check("csv: newest first", "2026/12/07", body[0][0])
    check("csv: lines end in CR LF", True, out.endswith(b"\r\n") and b"\r\n" in out)
    by_id = {r[2]: r for r in body}
    check("csv: ANSI bytes and a comma survive", ["J\xfcrgen", "Plan \x96 d\xe9cembre, v2.pdf"],
          by_id["3"][3:4] + by_id["3"][5:6])
    check("csv: a formula stays text", "'=SUM(A1)", by_id["2"][5])
    check("csv: a job without names", ["", ""], [by_id["1"][3], by_id["1"][5]])

    status, out, _ = run("--csv", "--from", "20261206", "--to", "20261206", logs)
    rows = list(csv.reader(io.StringIO(out.decode("latin-1"), newline="")))[1:]
    check("csv: --from/--to choose the days", (0, ["9"]), (status, [r[2] for r in rows]))

    # For a spreadsheet of a locale that wants ';', in UTF-8: read back with
    # that dialect, the names are those of the logs (the agent keeps no
    # quotes in a log, so a title's comma and semicolon are what can break).
    status, out, err = run("--csv", "--separator", ";", "--encoding", "utf-8", logs)
    check("csv ;: exit 0", 0, status)
    check("csv utf-8: starts with the byte-order mark", True, out.startswith(b"\xef\xbb\xbf"))
    text = out.decode("utf-8-sig")
    rows = list(csv.reader(io.StringIO(text, newline=""), delimiter=";"))
    check("csv ;: eight columns on every line", {8}, {len(r) for r in rows})
    by_id = {r[2]: r for r in rows[1:]}
    check("csv ;: J\u00fcrgen and the title with a comma intact",
          ["J\u00fcrgen", "Plan \u2013 d\u00e9cembre, v2.pdf"], [by_id["3"][3], by_id["3"][5]])
    check("csv ;: the formula-looking title stays text", "'=SUM(A1)", by_id["2"][5])
    check("csv ;: the same figures", 95, sum(int(r[7]) for r in rows[1:]))
    with open(os.path.join(logs, "Semi_20261208.xml"), "wb") as f:
        f.write(log(b"Semi", b"2026/12/08", [entry(b"2026/12/08", 11, b"bo", b"Semi", b"a;b, c", 1, 1)], 1))
    status, out, _ = run("--csv", "--separator", ";", "--from", "20261208", logs)
    rows = list(csv.reader(io.StringIO(out.decode("cp1252"), newline=""), delimiter=";"))
    check("csv ;: a title holding the separator is one field", "a;b, c", rows[1][5])
    status, out, _ = run("--csv", "--separator", "tab", "--from", "20261208", logs)
    rows = list(csv.reader(io.StringIO(out.decode("cp1252"), newline=""), delimiter="\t"))
    check("csv tab: read back", "a;b, c", rows[1][5])
    os.remove(os.path.join(logs, "Semi_20261208.xml"))

    # The summary: per user and per printer, per month on request.
    status, out, _ = run("--summary", "--encoding", "utf-8", logs)
    summary_text = out.decode("utf-8")
    check("summary: exit 0", 0, status)
    check("summary: J\u00fcrgen's line", True,
          any(line.split() == ["J\u00fcrgen", "1", "4", "20"] for line in summary_text.splitlines()))
    check("summary: all users", True,
          any(line.split() == ["All", "users", "5", "17", "95"] for line in summary_text.splitlines()))
    status, out, _ = run("--summary", "--by", "day", "--encoding", "utf-8", logs)
    days = [line for line in out.decode("utf-8").splitlines() if line.startswith("Per user ")]
    check("summary by day: one table a day", ["Per user 2026/12/05", "Per user 2026/12/06",
                                              "Per user 2026/12/07"], days)

    # At a terminal the summary is what comes without asking.
    if sys.argv[1] != "--wine":
        import pty
        leader, follower = pty.openpty()
        p = subprocess.run([*command, logs], stdout=follower, stderr=subprocess.PIPE, timeout=120)
        os.close(follower)
        shown = b""
        try:
            while True:
                chunk = os.read(leader, 65536)
                if not chunk:
                    break
                shown += chunk
        except OSError:
            pass
        os.close(leader)
        check("a terminal gets the summary", (0, True), (p.returncode, b"Per printer" in shown))

    # Failures write nothing on standard output.
    empty = os.path.join(work, "empty")
    os.makedirs(empty)
    status, out, err = run("--csv", empty)
    check("no log found: exit 1, warned, nothing written", (1, b"", True),
          (status, out, "no daily log found" in err))
    status, out, err = run("--csv", logs, os.path.join(logs, "notes.xml"))
    check("a non-log among logs: exit 1, nothing written", (1, b"", True),
          (status, out, "not a log file" in err))
    partial = os.path.join(work, "partial.csv")
    status, out, err = run("--csv", "-o", partial, os.path.join(logs, "notes.xml"))
    check("failing with -o: no file made", (1, False), (status, os.path.exists(partial)))

    # HTML of the global log: well-formed, figures as recorded.
    page = os.path.join(work, "report.html")
    status, out, err = run("--html", "-o", page, os.path.join(logs, "GlobalLog_20261207.xml"))
    check("html: exit 0 and nothing on stdout", (0, b""), (status, out))
    lint = subprocess.run(["xmllint", "--html", "--noout", page], capture_output=True, timeout=60)
    check("html: xmllint finds nothing to say", (0, b""), (lint.returncode, lint.stdout + lint.stderr))
    with open(page, "rb") as f:
        html = f.read()
    check("html: declares windows-1252", True, b"charset=windows-1252" in html)
    check("html: no script, nothing loaded", (False, False), (b"<script" in html, b"src=" in html))
    fig = Figures()
    fig.feed(html.decode("cp1252", errors="strict"))
    check("html: total", 95, number(fig.text["total"]))
    check("html: pages", 17, number(fig.text["pages"]))
    check("html: jobs", 5, number(fig.text["jobs"]))
    check("html: users (the empty name is one)", 4, number(fig.text["users"]))
    check("html: printers", 3, number(fig.text["printers"]))
    users = {r[0]: [number(c) for c in r[1:]] for r in fig.tables["by-user"][1:-1]}
    check("html: per user", {"anna": [2, 11, 35], "paul": [1, 2, 40], "J\xfcrgen": [1, 4, 20],
                             "(none)": [1, 0, 0]}, users)
    check("html: per user, largest cost first", "paul", fig.tables["by-user"][1][0])
    check("html: the footer sums the jobs", ["All users", "5", "17", "95"], fig.tables["by-user"][-1])
    check("html: the 0x96 byte is the dash of windows-1252", True,
          any("Plan \u2013 d\xe9cembre, v2.pdf" in r for r in fig.tables["job-list"]))

    # A big global log: the jobs are listed up to a cap, the rest counted.
    many = [entry(b"2026/12/01", i, b"u%d" % (i % 7), b"P%d" % (i % 3), b"d", 1, 2) for i in range(1000)]
    big = os.path.join(work, "GlobalLog_20261201.xml")
    with open(big, "wb") as f:
        f.write(log(b"Global Log", b"2026/12/01", many, 2000))
    status, out, _ = run("--html", big)
    fig = Figures()
    fig.feed(out.decode("cp1252"))
    check("html: capped job list", 300, len(fig.tables["job-list"]) - 1)
    check("html: and N more", True, "and 700 more jobs." in fig.text.get("more", ""))
    check("html: figures of all jobs", (1000, 2000), (number(fig.text["jobs"]), number(fig.text["total"])))

    # Bad arguments and bad files: a clear line and a non-zero exit.
    for args, code, words in [((logs,), 2, "--csv and --html"),
                              (("--csv", "--separator", ".", logs), 2, "--separator"),
                              (("--csv", "--encoding", "latin-9", logs), 2, "--encoding"),
                              (("--csv", "--by", "month", logs), 2, "--by goes with --summary"),
                              (("--csv",), 2, "log file"),
                              (("--csv", "--from", "2026-12-01", logs), 2, "YYYYMMDD"),
                              (("--csv", "--from", "20261210", "--to", "20261201", logs), 2, "after"),
                              (("--csv", "--from", "20261201", big), 2, "folder"),
                              (("--html", "--bogus", logs), 2, "unknown option"),
                              (("--csv", os.path.join(work, "gone.xml")), 1, "no such file"),
                              (("--csv", os.path.join(logs, "notes.xml")), 1, "not a log file"),
                              (("--csv", "-o", os.path.join(work, "no", "x.csv"), logs), 1, "cannot write")]:
        status, _, err = run(*args)
        check(f"bad {' '.join(args[:2])}: exit {code} and says why", (code, True),
              (status, words in err))

sys.exit(summary())
