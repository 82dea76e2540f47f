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
import unittest
from html.parser import HTMLParser

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "lib"))
from html_lint import lint_report  # noqa: E402

PROLOG = (b"<?xml version='1.0' encoding='ISO-8859-1' ?> "
          b"<?xml-stylesheet href='Tavisk.xsl' type='text/xsl' ?>")


def entry(date, job, user, printer, doc, pages, cost, details=None):
    """details: (copies, colour, mono, sides, paper, client, colorfrom), as LogJobDetails writes them."""
    told = b""
    if details:
        told = (b" <copies>%d</copies><colorpages>%d</colorpages><monopages>%d</monopages> <sides>%s"
                b"</sides><paper>%s</paper><client>%s</client><colorfrom>%s</colorfrom>" % details)
    return (b"<entry> <date>" + date + b"</date><time>10:00:%02d</time> <id>" % (job % 60) +
            str(job).encode() + b"</id><user>" + user + b"</user> <printer>" + printer +
            b"</printer><doc>" + doc + b"</doc> <pages>" + str(pages).encode() +
            b"</pages> <cost>" + str(cost).encode() + b"</cost>" + told + b"</entry>")


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


command = []


def run(*args):
    p = subprocess.run([*command, *args], capture_output=True, timeout=120)
    return p.returncode, p.stdout, p.stderr.decode("latin-1")


def number(text):
    return int(text.replace("\u202f", "").replace(" ", ""))


def csv_rows(out, encoding="latin-1", delimiter=","):
    return list(csv.reader(io.StringIO(out.decode(encoding), newline=""), delimiter=delimiter))


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)


class Pelkoreport(unittest.TestCase):
    """Three daily logs (one in a subfolder), a global log and a non-log."""

    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.TemporaryDirectory(dir=os.environ.get("WINE_TEST_DIR"))
        work = cls.work.name
        cls.logs = logs = os.path.join(work, "Logs")
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
            write(os.path.join(logs, name), data)
        # A big global log, outside the logs folder.
        many = [entry(b"2026/12/01", i, b"u%d" % (i % 7), b"P%d" % (i % 3), b"d", 1, 2)
                for i in range(1000)]
        cls.big = os.path.join(work, "GlobalLog_20261201.xml")
        write(cls.big, log(b"Global Log", b"2026/12/01", many, 2000))

    @classmethod
    def tearDownClass(cls):
        cls.work.cleanup()

    def test_csv_lists_every_daily_job_once_without_the_global_log(self):
        status, out, err = run("--csv", self.logs)
        self.assertEqual(status, 0, "csv: exit 0")
        rows = csv_rows(out)
        self.assertEqual(rows[0], ["date", "time", "id", "user", "printer", "document", "pages", "cost"],
                         "csv: header")
        body = rows[1:]
        self.assertEqual(len(body), 5, "csv: one row per daily job")
        self.assertEqual(sum(int(r[6]) for r in body), 17, "csv: pages add up")
        self.assertEqual(sum(int(r[7]) for r in body), 95, "csv: costs add up")
        self.assertEqual(body[0][0], "2026/12/07", "csv: newest first")
        self.assertTrue(out.endswith(b"\r\n") and b"\r\n" in out, "csv: lines end in CR LF")
        by_id = {r[2]: r for r in body}
        self.assertEqual(by_id["3"][3:4] + by_id["3"][5:6], ["J\xfcrgen", "Plan \x96 d\xe9cembre, v2.pdf"],
                         "csv: ANSI bytes and a comma survive")
        self.assertEqual(by_id["2"][5], "'=SUM(A1)", "csv: a formula stays text")
        self.assertEqual([by_id["1"][3], by_id["1"][5]], ["", ""], "csv: a job without names")

    def test_csv_from_to_choose_the_days(self):
        status, out, _ = run("--csv", "--from", "20261206", "--to", "20261206", self.logs)
        self.assertEqual((status, [r[2] for r in csv_rows(out)[1:]]), (0, ["9"]))

    def test_dates_as_people_write_them_and_the_period_in_every_heading(self):
        status, out, _ = run("--csv", "--from", "2026-12-06", "--to", "2026-12-06", self.logs)
        self.assertEqual((status, [r[2] for r in csv_rows(out)[1:]]), (0, ["9"]), "--from 2026-12-06")
        status, out, _ = run("--html", "--from", "20261201", "--to", "2026-12-31", self.logs)
        fig = Figures()
        fig.feed(out.decode("cp1252"))
        self.assertEqual((status, fig.text["printer"], fig.text["date"]), (0, "December 2026", "Jobs of 3 logs"))
        status, out, _ = run("--html", self.logs)
        fig = Figures()
        fig.feed(out.decode("cp1252"))
        self.assertEqual(fig.text["printer"], "2026-12-05 to 2026-12-07", "without --from/--to: the jobs' period")
        jobs = [row[0] for row in fig.tables["job-list"][1:]]
        self.assertEqual(jobs, sorted(jobs, reverse=True), "the jobs newest first, as their title says")

    def test_the_euro_sign_survives_every_form(self):
        euro = os.path.join(self.logs, "Euro_20261209.xml")
        write(euro, log(b"Euro", b"2026/12/09", [entry(b"2026/12/09", 12, b"bo \x80", b"Euro", b"5 \x80", 1, 1)], 1))
        self.addCleanup(os.remove, euro)
        for args, encoding in [(("--csv",), "cp1252"), (("--csv", "--encoding", "utf-8"), "utf-8-sig"),
                               (("--html",), "cp1252"), (("--html", "--encoding", "utf-8"), "utf-8"),
                               (("--summary", "--encoding", "utf-8"), "utf-8")]:
            status, out, _ = run(*args, "--from", "20261209", self.logs)
            self.assertEqual((status, "bo \u20ac" in out.decode(encoding)), (0, True), args)

    @unittest.skipIf(sys.argv[1:2] == ["--wine"], "the setting is written with pelkoreg on Linux")
    def test_cost_unit_from_the_setting_or_the_command_line(self):
        registry = os.path.join(self.work.name, "registry")
        env = dict(os.environ, PELKO_REGISTRY=registry)
        # As pelkoctl set writes it.
        subprocess.run([os.path.join(os.path.dirname(command[-1]), "pelkoreg"), "add", "HKLM\\Software\\Pelko",
                        "/v", "CostUnit", "/t", "REG_SZ", "/d", "EUR/2", "/f"], env=env, check=True,
                       capture_output=True, timeout=60)
        p = subprocess.run([*command, "--summary", "--from", "20261206", "--to", "20261206", self.logs], env=env,
                           capture_output=True, timeout=120)
        self.assertIn(["All", "users", "1", "10", "0.30", "EUR"], [l.split() for l in p.stdout.decode().splitlines()])
        status, out, _ = run("--csv", "--cost-unit", "EUR/2", "--separator", ";", "--from", "20261206",
                             "--to", "20261206", self.logs)
        self.assertEqual(csv_rows(out, "cp1252", ";")[0][7:] + csv_rows(out, "cp1252", ";")[1][7:],
                         ["cost (EUR)", "0,30"], "a decimal comma where ';' separates")

    def test_csv_for_a_spreadsheet_that_wants_semicolons_in_utf8(self):
        # The names are those of the logs: the agent keeps no quotes in a
        # log, so a title's comma and semicolon are what can break.
        status, out, err = run("--csv", "--separator", ";", "--encoding", "utf-8", self.logs)
        self.assertEqual(status, 0, "csv ;: exit 0")
        self.assertTrue(out.startswith(b"\xef\xbb\xbf"), "csv utf-8: starts with the byte-order mark")
        rows = csv_rows(out, "utf-8-sig", ";")
        self.assertEqual({len(r) for r in rows}, {8}, "csv ;: eight columns on every line")
        by_id = {r[2]: r for r in rows[1:]}
        self.assertEqual([by_id["3"][3], by_id["3"][5]], ["J\u00fcrgen", "Plan \u2013 d\u00e9cembre, v2.pdf"],
                         "csv ;: J\u00fcrgen and the title with a comma intact")
        self.assertEqual(by_id["2"][5], "'=SUM(A1)", "csv ;: the formula-looking title stays text")
        self.assertEqual(sum(int(r[7]) for r in rows[1:]), 95, "csv ;: the same figures")

    def test_csv_title_holding_the_separator_is_one_field(self):
        semi = os.path.join(self.logs, "Semi_20261208.xml")
        write(semi, log(b"Semi", b"2026/12/08",
                        [entry(b"2026/12/08", 11, b"bo", b"Semi", b"a;b, c", 1, 1)], 1))
        self.addCleanup(os.remove, semi)
        status, out, _ = run("--csv", "--separator", ";", "--from", "20261208", self.logs)
        self.assertEqual(csv_rows(out, "cp1252", ";")[1][5], "a;b, c", "csv ;")
        status, out, _ = run("--csv", "--separator", "tab", "--from", "20261208", self.logs)
        self.assertEqual(csv_rows(out, "cp1252", "\t")[1][5], "a;b, c", "csv tab: read back")

    def test_summary_per_user_and_per_day(self):
        status, out, _ = run("--summary", "--encoding", "utf-8", self.logs)
        lines = [line.split() for line in out.decode("utf-8").splitlines()]
        self.assertEqual(status, 0, "summary: exit 0")
        self.assertIn(["J\u00fcrgen", "1", "4", "20"], lines, "summary: J\u00fcrgen's line")
        self.assertIn(["All", "users", "5", "17", "95"], lines, "summary: all users")
        status, out, _ = run("--summary", "--by", "day", "--encoding", "utf-8", self.logs)
        days = [line for line in out.decode("utf-8").splitlines() if line.startswith("Per user")]
        self.assertEqual(days, ["Per user, 2026-12-05", "Per user, 2026-12-06", "Per user, 2026-12-07"],
                         "summary by day: one table a day")
        self.assertEqual(out.decode("utf-8").splitlines()[0],
                         "Print report, all printers: 2026-12-05 to 2026-12-07", "summary: the period heads it")

    @unittest.skipIf(sys.argv[1:2] == ["--wine"], "a terminal is checked on Linux only")
    def test_a_terminal_gets_the_summary_with_bars_without_asking(self):
        import pty
        leader, follower = pty.openpty()
        p = subprocess.run([*command, self.logs], stdout=follower, stderr=subprocess.PIPE, timeout=120)
        os.close(follower)
        shown = b""
        try:
            while chunk := os.read(leader, 65536):
                shown += chunk
        except OSError:
            pass
        os.close(leader)
        self.assertEqual((p.returncode, b"Per printer" in shown), (0, True))
        # Each row's cost as a bar: paul's 40 the longest, Jurgen's 20 half of it.
        bars = {line.split()[0]: line.count("\u2588") for line in shown.decode("utf-8").splitlines()
                if line.startswith("  ")}
        self.assertEqual([bars.get(k) for k in ("paul", "anna", "J\u00fcrgen", "All")], [20, 18, 10, 0])
        status, out, _ = run("--summary", self.logs)
        self.assertEqual((status, "\u2588".encode() in out, b"#" in out), (0, False, False), "no bars into a pipe")

    def test_failures_write_nothing_on_standard_output(self):
        empty = os.path.join(self.work.name, "empty")
        os.makedirs(empty, exist_ok=True)
        status, out, err = run("--csv", empty)
        self.assertEqual((status, out, "no daily log found" in err), (1, b"", True),
                         "no log found: exit 1, warned, nothing written")
        status, out, err = run("--csv", self.logs, os.path.join(self.logs, "notes.xml"))
        self.assertEqual((status, out, "not a log file" in err), (1, b"", True),
                         "a non-log among logs: exit 1, nothing written")
        partial = os.path.join(self.work.name, "partial.csv")
        status, out, err = run("--csv", "-o", partial, os.path.join(self.logs, "notes.xml"))
        self.assertEqual((status, os.path.exists(partial)), (1, False), "failing with -o: no file made")

    def test_html_of_the_global_log_is_well_formed_with_the_recorded_figures(self):
        page = os.path.join(self.work.name, "report.html")
        status, out, err = run("--html", "-o", page, os.path.join(self.logs, "GlobalLog_20261207.xml"))
        self.assertEqual((status, out), (0, b""), "html: exit 0 and nothing on stdout")
        self.assertEqual(lint_report(page), (0, b""), "html: xmllint finds nothing to say")
        with open(page, "rb") as f:
            html = f.read()
        self.assertIn(b"charset=windows-1252", html, "html: declares windows-1252")
        self.assertEqual((b"<script" in html, b"src=" in html), (False, False),
                         "html: no script, nothing loaded")
        fig = Figures()
        fig.feed(html.decode("cp1252", errors="strict"))
        self.assertEqual(number(fig.text["total"]), 95, "html: total")
        self.assertEqual(number(fig.text["pages"]), 17, "html: pages")
        self.assertEqual(number(fig.text["jobs"]), 5, "html: jobs")
        self.assertEqual(number(fig.text["users"]), 4, "html: users (the empty name is one)")
        self.assertEqual(number(fig.text["printers"]), 3, "html: printers")
        users = {r[0]: [number(c) for c in r[1:]] for r in fig.tables["by-user"][1:-1]}
        self.assertEqual(users, {"anna": [2, 11, 35], "paul": [1, 2, 40], "J\xfcrgen": [1, 4, 20],
                                 "(none)": [1, 0, 0]}, "html: per user")
        self.assertEqual(fig.tables["by-user"][1][0], "paul", "html: per user, largest cost first")
        self.assertEqual(fig.tables["by-user"][-1], ["All users", "5", "17", "95"],
                         "html: the footer sums the jobs")
        self.assertTrue(any("Plan \u2013 d\xe9cembre, v2.pdf" in r for r in fig.tables["job-list"]),
                        "html: the 0x96 byte is the dash of windows-1252")

    def test_html_of_a_big_global_log_lists_jobs_up_to_a_cap(self):
        status, out, _ = run("--html", self.big)
        fig = Figures()
        fig.feed(out.decode("cp1252"))
        self.assertEqual(len(fig.tables["job-list"]) - 1, 300, "html: capped job list")
        self.assertIn("and 700 more jobs.", fig.text.get("more", ""), "html: and N more")
        self.assertEqual((number(fig.text["jobs"]), number(fig.text["total"])), (1000, 2000),
                         "html: figures of all jobs")

    def test_bad_arguments_and_files_give_a_clear_line_and_a_non_zero_exit(self):
        logs, work = self.logs, self.work.name
        for args, code, words in [((logs,), 2, "--csv and --html"),
                                  (("--csv", "--separator", ".", logs), 2, "--separator"),
                                  (("--csv", "--encoding", "latin-9", logs), 2, "--encoding"),
                                  (("--csv", "--by", "month", logs), 2, "--by goes with --summary"),
                                  (("--csv",), 2, "log file"),
                                  (("--csv", "--from", "2026-12-32", logs), 2, "YYYY-MM-DD"),
                                  (("--csv", "--database", "DSN=x", logs), 2, "not both"),
                                  (("--csv", "--cost-unit", "EUR/9", logs), 2, "no cost unit"),
                                  (("--csv", "--from", "20261210", "--to", "20261201", logs), 2, "after"),
                                  (("--csv", "--from", "20261201", self.big), 2, "folder"),
                                  (("--html", "--bogus", logs), 2, "unknown option"),
                                  (("--site", work, "--csv", logs), 2, "--site writes its own files"),
                                  (("--csv", os.path.join(work, "gone.xml")), 1, "no such file"),
                                  (("--csv", os.path.join(logs, "notes.xml")), 1, "not a log file"),
                                  (("--csv", "-o", os.path.join(work, "no", "x.csv"), logs), 1,
                                   "cannot write")]:
            with self.subTest(args=args):
                status, _, err = run(*args)
                self.assertEqual((status, words in err), (code, True), err)

    def test_site_of_the_logs_then_a_rerun_reads_nothing(self):
        site = os.path.join(self.work.name, "site")
        status, out, err = run("--site", site, self.logs)
        self.assertEqual((status, b"20 files written" in out), (0, True), (out, err))
        # Ten pages: the overview, a year, a month, three printers, four users (one of no name). A
        # windows-1252 name by its UTF-8 bytes, escaped: one name, one file, on every system.
        for page in ("index", "year-2026", "month-2026-12", "user-anna", "user-_4a_c3_bcrgen", "printer-_4cab",
                     "printer-_5c_5c_53_52_56_5c_48_50"):
            with open(os.path.join(site, page + ".html"), "rb") as f:
                text = f.read().decode("utf-8")
            self.assertIn("charset=utf-8", text)
            self.assertTrue(os.path.exists(os.path.join(site, page + ".csv")), page)
        self.assertIn("J\u00fcrgen", text, "the name shown as it is")
        status, out, _ = run("--site", site, self.logs)
        self.assertEqual((status, out.rstrip()), (0, site.encode() + b": up to date"))

    def test_a_database_password_too_long_is_refused_not_cut(self):
        p = subprocess.run([*command, "--database", "DSN=none", "--password-stdin", "--text"],
                           input=b"a" * 1500 + b"\n", capture_output=True, timeout=120)
        self.assertEqual((p.returncode, b"longer than 1024 bytes" in p.stderr), (2, True), p.stderr)


class ColourPages(unittest.TestCase):
    """A month of old logs and a month whose entries have details, and the
    one entry of it written before LogJobDetails was set."""

    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.TemporaryDirectory(dir=os.environ.get("WINE_TEST_DIR"))
        cls.logs = os.path.join(cls.work.name, "Logs")
        os.makedirs(cls.logs)
        old = [entry(b"2026/11/30", 5, b"anna", b"HP", b"a", 4, 8)]
        new = [entry(b"2026/12/10", 8, b"anna", b"HP", b"b", 6, 40, (3, 2, 4, b"two-sided-long-edge",
                                                                     b"A4", b"pc12", b"request")),
               entry(b"2026/12/10", 7, b"paul", b"HP", b"c", 1, 25, (1, 1, 0, b"one-sided", b"A4",
                                                                     b"pc7", b"document")),
               entry(b"2026/12/10", 6, b"paul", b"HP", b"d", 3, 15)]
        write(os.path.join(cls.logs, "HP_20261130.xml"), log(b"HP", b"2026/11/30", old, 8))
        write(os.path.join(cls.logs, "HP_20261210.xml"), log(b"HP", b"2026/12/10", new, 80))
        cls.told = os.path.join(cls.work.name, "Told_20261211.xml")
        write(cls.told, log(b"Told", b"2026/12/11", new[:2], 65))

    @classmethod
    def tearDownClass(cls):
        cls.work.cleanup()

    def test_summary_by_month_splits_only_what_the_details_tell(self):
        status, out, _ = run("--summary", "--by", "month", self.logs)
        self.assertEqual(status, 0)
        lines = [line.split() for line in out.decode("utf-8").splitlines()]
        self.assertIn(["User", "Jobs", "Pages", "Cost", "Colour", "Mono", "Not", "told", "apart"], lines)
        tables = out.decode("utf-8").split("Per user, ")
        self.assertEqual([t.splitlines()[0] for t in tables[1:]], ["November 2026", "December 2026"])
        november = [line.split() for line in tables[1].splitlines()]
        december = [line.split() for line in tables[2].splitlines()]
        self.assertIn(["anna", "1", "4", "8", "0", "0", "4"], november, "old pages: not called mono")
        self.assertIn(["paul", "2", "4", "40", "1", "0", "3"], december)
        self.assertIn(["All", "users", "3", "10", "80", "3", "4", "3"], december)
        # Where every entry tells, nothing is left to tell apart.
        status, out, _ = run("--summary", self.told)
        self.assertEqual((status, b"Colour" in out, b"Not told apart" in out), (0, True, False))

    def test_csv_rows_carry_the_details_and_old_rows_leave_them_empty(self):
        # November's row is written first, before a row told the report of details.
        status, out, _ = run("--csv", *(os.path.join(self.logs, name)
                                        for name in ("HP_20261130.xml", "HP_20261210.xml")))
        rows = csv_rows(out)
        self.assertEqual(rows[0][8:], ["copies", "colorpages", "monopages", "sides", "paper", "client",
                                       "colorfrom"])
        self.assertEqual({len(r) for r in rows}, {15}, "every row as wide as the header")
        by_id = {r[2]: r[6:] for r in rows[1:]}
        self.assertEqual(by_id["8"], ["6", "40", "3", "2", "4", "two-sided-long-edge", "A4", "pc12",
                                      "request"])
        self.assertEqual(by_id["5"], ["4", "8"] + [""] * 7, "csv: widened afterwards")
        self.assertEqual(by_id["6"], ["3", "15"] + [""] * 7)

    def test_html_shows_colour_mono_and_the_pages_not_told_apart(self):
        page = os.path.join(self.work.name, "colour.html")
        status, _, _ = run("--html", "-o", page, self.logs)
        self.assertEqual((status, *lint_report(page)), (0, 0, b""))
        with open(page, "rb") as f:
            fig = Figures()
            fig.feed(f.read().decode("cp1252"))
        self.assertEqual([number(fig.text[k]) for k in ("pages", "color-pages", "mono-pages", "untold-pages")],
                         [14, 3, 4, 7])
        self.assertEqual(fig.tables["by-user"][0], ["User", "Jobs", "Pages", "Cost", "Colour", "Mono",
                                                    "Not told apart"])
        users = {r[0]: [number(c) for c in r[1:]] for r in fig.tables["by-user"][1:]}
        self.assertEqual(users["paul"], [2, 4, 40, 1, 0, 3])
        self.assertEqual(users["All users"], [4, 14, 88, 3, 4, 7])
        self.assertEqual([r[-2:] for r in fig.tables["job-list"][1:]], [["2", "4"], ["1", "0"], ["", ""], ["", ""]])
        # A report of told entries alone has no column for pages not told apart.
        status, out, _ = run("--html", self.told)
        self.assertEqual((status, b"Not told apart" in out, b'id="color-pages"' in out), (0, False, True))


if __name__ == "__main__":
    if len(sys.argv) < 2 or sys.argv[1] == "--wine" and len(sys.argv) < 3:
        sys.exit(__doc__)
    if sys.argv[1] == "--wine":
        # Wine's services start with the first program and would hold its pipes.
        subprocess.run([os.environ["WINE"], "cmd", "/c", "exit"], cwd="/", timeout=120,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        command = [os.environ["WINE"], os.path.abspath(sys.argv[2])]
    else:
        command = [os.path.abspath(sys.argv[1])]
        # No CostUnit but where a test sets one: never the machine's own store.
        empty = tempfile.TemporaryDirectory()
        os.environ["PELKO_REGISTRY"] = empty.name
    unittest.main(argv=[sys.argv[0], "-v"])
