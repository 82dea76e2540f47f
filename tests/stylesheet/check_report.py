#!/usr/bin/env python3
"""Applies Tavisk.xsl to the sample logs with xsltproc and reads the report back.

Usage: check_report.py STYLESHEET SAMPLES_DIR   (exit 77 when xsltproc is missing)
"""
import html.parser
import os
import re
import shutil
import subprocess
import sys
import unittest

STYLESHEET = ""
SAMPLES = ""
NNBSP = "\u202f"  # the report's thousands separator


class Node:
    def __init__(self, tag, attrs):
        self.tag, self.attrs, self.children = tag, dict(attrs), []

    def text(self):
        parts = [c if isinstance(c, str) else c.text() for c in self.children]
        # ASCII white space only: str.split() would also eat the separator.
        return re.sub(r"[ \t\r\n\f]+", " ", "".join(parts)).strip()

    def walk(self):
        yield self
        for c in self.children:
            if isinstance(c, Node):
                yield from c.walk()

    def find_all(self, tag):
        return [n for n in self.walk() if n.tag == tag]

    def by_id(self, ident):
        return next((n for n in self.walk() if n.attrs.get("id") == ident), None)


class TreeBuilder(html.parser.HTMLParser):
    VOID = {"meta", "br", "hr", "img", "input", "link"}

    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.root = Node("#root", [])
        self.stack = [self.root]

    def handle_starttag(self, tag, attrs):
        node = Node(tag, attrs)
        self.stack[-1].children.append(node)
        if tag not in self.VOID:
            self.stack.append(node)

    def handle_endtag(self, tag):
        for i in range(len(self.stack) - 1, 0, -1):
            if self.stack[i].tag == tag:
                del self.stack[i:]
                return

    def handle_data(self, data):
        self.stack[-1].children.append(data)


def render(sample):
    run = subprocess.run(["xsltproc", STYLESHEET, os.path.join(SAMPLES, sample)],
                         capture_output=True, timeout=60)
    if run.returncode != 0 or run.stderr:
        raise AssertionError(f"xsltproc on {sample}: status {run.returncode}: "
                             f"{run.stderr.decode(errors='replace')}")
    markup = run.stdout.decode("utf-8")
    builder = TreeBuilder()
    builder.feed(markup)
    return markup, builder.root


def rows(table, section):
    """The cell texts of each row of the table's thead, tbody or tfoot."""
    part = next(n for n in table.children if isinstance(n, Node) and n.tag == section)
    return [[td.text() for td in tr.find_all("td")] for tr in part.find_all("tr")]


def plain(number):
    return number.replace(NNBSP, "")


def groups(root, field):
    """(name, jobs, pages, cost) per row of a subtotal table, in report order."""
    table = root.by_id(f"by-{field}")
    return [(r[0], int(r[1]), int(plain(r[2])), int(plain(r[3])))
            for r in rows(table, "tbody")]


class SampleFiles(unittest.TestCase):
    def test_samples_are_single_line_logs(self):
        prolog = (b"<?xml version='1.0' encoding='ISO-8859-1' ?> "
                  b"<?xml-stylesheet href='Tavisk.xsl' type='text/xsl' ?><log>")
        for name in sorted(os.listdir(SAMPLES)):
            with open(os.path.join(SAMPLES, name), "rb") as f:
                data = f.read()
            with self.subTest(name):
                self.assertTrue(data.startswith(prolog))
                self.assertNotIn(b"\n", data)
                self.assertNotIn(b"\r", data)
                self.assertTrue(data.endswith(b"</cost></entry></log>"))
                lint = subprocess.run(["xmllint", "--noout", os.path.join(SAMPLES, name)],
                                      capture_output=True, timeout=60)
                self.assertEqual((lint.returncode, lint.stdout + lint.stderr), (0, b""))


class DailyLog(unittest.TestCase):
    def test_two_job_file(self):
        _, root = render("LaserJet_20261206.xml")
        self.assertEqual(root.by_id("printer").text(), r"\\SRV\LaserJet")
        self.assertEqual(root.by_id("date").text(), "2026/12/06")
        self.assertEqual(rows(root.by_id("job-list"), "tbody"), [
            ["2026/12/06", "14:31:07", "anna", r"\\SRV\LaserJet", "Budget.xls", "2", "10"],
            ["2026/12/06", "09:05:03", "paul", r"\\SRV\LaserJet", "Report.doc", "3", "15"],
        ])
        self.assertEqual(groups(root, "user"), [("paul", 1, 3, 15), ("anna", 1, 2, 10)])
        self.assertEqual(groups(root, "printer"), [(r"\\SRV\LaserJet", 2, 5, 25)])
        self.assertEqual(root.by_id("total").text(), "25")
        self.assertEqual(root.by_id("pages").text(), "5")
        self.assertEqual(root.by_id("jobs").text(), "2")
        # The Total entry is neither a row nor a user.
        self.assertIsNone(root.by_id("job-sum"))
        self.assertIsNone(root.by_id("no-jobs"))

    def test_several_users_and_two_queues(self):
        _, root = render("HP_20261207.xml")
        jobs = rows(root.by_id("job-list"), "tbody")
        # File order is kept (newest first), not re-sorted.
        self.assertEqual([r[1] for r in jobs],
                         ["17:45:00", "16:02:11", "14:31:07", "11:20:45", "10:00:00",
                          "09:05:03", "08:15:59"])
        # Latin-1 é, and 0x96 shown as the en dash the Windows code page means.
        self.assertEqual(jobs[0][2:5], ["Ren\u00e9e", r"\\SRV2\HP", "Plan \u2013 d\u00e9cembre.pdf"])
        self.assertEqual(jobs[4][2:], ["(none)", r"\\SRV1\HP", "(none)", "0", "0"])
        # Largest cost first; the job without a user keeps a group of its own.
        self.assertEqual(groups(root, "user"), [
            ("anna", 2, 13, 26), ("Ren\u00e9e", 2, 6, 12), ("paul", 2, 4, 8), ("(none)", 1, 0, 0)])
        self.assertEqual(groups(root, "printer"),
                         [(r"\\SRV1\HP", 5, 16, 32), (r"\\SRV2\HP", 2, 7, 14)])
        for field, label in (("user", "All users"), ("printer", "All printers")):
            self.assertEqual(rows(root.by_id(f"by-{field}"), "tfoot"), [[label, "7", "23", "46"]])
        self.assertEqual(root.by_id("total").text(), "46")
        self.assertEqual(root.by_id("users").text(), "4")

    def test_empty_log(self):
        _, root = render("Empty_20261209.xml")
        self.assertEqual(root.by_id("no-jobs").text(), "No jobs")
        self.assertEqual(root.by_id("total").text(), "0")
        self.assertEqual(root.by_id("jobs").text(), "0")
        self.assertIsNone(root.by_id("job-list"))
        self.assertIsNone(root.by_id("by-user"))
        self.assertIsNone(root.by_id("job-sum"))


class DetailsLog(unittest.TestCase):
    """Entries with LogJobDetails's details, and one written before it was set."""

    def setUp(self):
        _, self.root = render("Colour_20261210.xml")

    def test_cards_and_subtotals_split_colour_mono_and_pages_not_told_apart(self):
        self.assertEqual([self.root.by_id(i).text() for i in
                          ("pages", "color-pages", "mono-pages", "untold-pages")], ["15", "3", "9", "3"])
        heads = [th.text() for th in self.root.by_id("by-user").find_all("th")]
        self.assertEqual(heads, ["User", "Jobs", "Pages", "Cost", "Colour", "Mono", "Not told apart"])
        self.assertEqual(rows(self.root.by_id("by-user"), "tbody"),
                         [["anna", "2", "11", "45", "2", "9", "0"], ["paul", "2", "4", "40", "1", "0", "3"]])
        self.assertEqual(rows(self.root.by_id("by-printer"), "tfoot"),
                         [["All printers", "4", "15", "85", "3", "9", "3"]])

    def test_job_rows_show_the_details_and_leave_them_empty_where_there_are_none(self):
        table = self.root.by_id("job-list")
        self.assertEqual([th.text() for th in table.find_all("th")][7:],
                         ["Copies", "Colour", "Mono", "Sides", "Paper", "Client", "Colour counted by"])
        jobs = rows(table, "tbody")
        self.assertEqual(jobs[0][5:], ["6", "40", "3", "2", "4", "two-sided-long-edge", "A4", "pc12",
                                       "request"])
        self.assertEqual(jobs[3][4:], ["Old.doc", "3", "15"] + [""] * 7)


class GlobalLog(unittest.TestCase):
    def setUp(self):
        self.markup, self.root = render("GlobalLog_20261208.xml")

    def test_heading(self):
        self.assertEqual(self.root.by_id("printer").text(), "Global Log")
        self.assertEqual(self.root.by_id("date").text(),
                         "Built on 2026/12/08, jobs of 2026/12/06 to 2026/12/08")
        self.assertEqual(self.root.by_id("printers").text(), "3")

    def test_rows_include_a_user_named_total(self):
        jobs = rows(self.root.by_id("job-list"), "tbody")
        self.assertEqual(len(jobs), 6)
        self.assertEqual(jobs[1], ["2026/12/08", "09:00:00", "Total", r"\\SRV\LaserJet",
                                   "Year end.pdf", "6", "30"])
        self.assertEqual(jobs[2][2:], ["J\u00fcrgen", "Colour", "Poster \u20ac price list.pdf",
                                       "2", "1" + NNBSP + "040"])

    def test_subtotals(self):
        self.assertEqual(groups(self.root, "user"), [
            ("J\u00fcrgen", 1, 2, 1040), ("anna", 3, 23, 130), ("Total", 1, 6, 30),
            ("paul", 1, 3, 15)])
        self.assertEqual(groups(self.root, "printer"), [
            ("Colour", 2, 3, 1060), (r"\\SRV\LaserJet", 2, 26, 130), (r"\\SRV1\HP", 2, 5, 25)])

    def test_recorded_total_wins_and_the_job_sum_is_noted(self):
        self.assertEqual(plain(self.root.by_id("total").text()), "1250")
        self.assertIn("add up to 1" + NNBSP + "215.", self.root.by_id("job-sum").text())
        self.assertEqual(rows(self.root.by_id("by-user"), "tfoot"),
                         [["All users", "6", "34", "1" + NNBSP + "215"]])

    def test_self_contained(self):
        lowered = self.markup.lower()
        for needle in ("<script", "<link", " src=", "href=", "url(", "@import"):
            self.assertNotIn(needle, lowered)


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    if shutil.which("xsltproc") is None:
        print("xsltproc not installed", file=sys.stderr)
        sys.exit(77)
    STYLESHEET, SAMPLES = sys.argv[1], sys.argv[2]
    unittest.main(argv=[sys.argv[0], "-v"])
