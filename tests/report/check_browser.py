#!/usr/bin/env python3
"""The HTML reports as a browser shows them: pelkoreport --html of logs over
three months (in UTF-8 and in windows-1252), pelkoreport --database --html of
the same jobs in a private PostgreSQL (where one can be started), the HTML
part of the mail the mail program sends of their global log, and every page
of the report site (pelkoreport --site) of logs up to today, each opened from
a file in headless Chromium with no network. A page logs nothing, asks for nothing but itself,
turns no name into markup, draws every bar to the figure of the table beside
it, and fits a 375 px wide phone. Screenshots go to SHOTS (docs/report-*.png
are copies of report-desktop.png and report-phone.png).
Usage: check_browser.py PELKOREPORT SENDRIK PELKOREG SHOTS   (exit 77 without chromium)"""
import csv
import datetime
import email
import email.policy
import os
import re
import signal
import subprocess
import sys
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import browser  # noqa: E402

PELKOREPORT, SENDRIK, PELKOREG, SHOTS = (sys.argv[1:5] + [None] * 4)[:4]
LONG = ("Bartholomew Featherstonehaugh-Cholmondeley " * 8)[:300]
HEBREW, ARABIC = "\u05e9\u05dc\u05d5\u05dd \u05e2\u05d5\u05dc\u05dd", "\u0645\u0631\u062d\u0628\u0627 \u0628\u0627\u0644\u0639\u0627\u0644\u0645"
# user, document, pages, cost; the log reader keeps no < > & ' " of a name.
HOSTILE = [("<script>alert(1)</script>", "Plan \"Q4\" 'draft' & <svg onload=alert(1)>", 2, 2),
           (LONG, "Minutes.pdf", 400, 4000), (HEBREW, "\u05d3\u05d5\u05d7.pdf", 300, 3000),
           (ARABIC, "\u062a\u0642\u0631\u064a\u0631.pdf", 250, 2500), ("J\u00fcrgen", "Menu \u20ac.pdf", 5, 5)]
PROLOG = "<?xml version='1.0' encoding='%s' ?> <?xml-stylesheet href='Tavisk.xsl' type='text/xsl' ?>"
TAGS = {"a", "nav", "html", "head", "meta", "title", "style", "body", "div", "h1", "h2", "p", "span", "table", "thead",
        "tbody", "tfoot", "tr", "th", "td", "svg", "text", "tspan", "rect", "g", "line"}

# In the page: every fault found, as text. Each chart is held to the table
# in its group; sizes are the drawn ones, in CSS pixels.
FAULTS = r"""(() => {
  const faults = [], box = e => e.getBoundingClientRect();
  const num = t => parseInt(t.replace(/[^0-9-]/g, ''), 10);
  const tags = new Set(%s);
  for (const e of document.querySelectorAll('*')) {
    if (!tags.has(e.localName)) faults.push('element <' + e.localName + '>');
    for (const a of e.attributes) if (/^on/i.test(a.name)) faults.push('attribute ' + a.name + ' on ' + e.localName);
  }
  const rows = id => [...document.querySelectorAll('#' + id + ' tbody tr')].map(r => [...r.cells].map(c => c.textContent));
  const near = (what, got, want) => { if (!(Math.abs(got - want) <= 1)) faults.push(what + ': ' + got + ' px, not ' + want); };
  // Sizes proportional to the values, the largest bar the measure.
  const proportional = (what, bars, size) => {
    const top = bars.reduce((a, b) => (b.value > a.value ? b : a), bars[0]);
    for (const b of bars) near(what + ' ' + b.name, size(b.rect), size(top.rect) * b.value / top.value);
  };
  const charts = {};
  for (const svg of document.querySelectorAll('svg')) {
    const s = box(svg);
    charts[svg.id] = Math.round(s.width);
    for (const t of svg.querySelectorAll('text')) {
      const b = box(t);
      if (b.left < s.left - 1 || b.right > s.right + 1) faults.push(svg.id + ': text "' + t.textContent.slice(0, 50) + '" outside the chart');
    }
    for (const r of svg.querySelectorAll('rect[data-value]')) {
      const b = box(r);
      if (b.left < s.left - 1 || b.right > s.right + 1 || b.top < s.top - 1 || b.bottom > s.bottom + 1) faults.push(svg.id + ': a bar outside the chart');
    }
  }
  for (const [chart, table] of [['chart-user', 'by-user'], ['chart-printer', 'by-printer']]) {
    const svg = document.getElementById(chart);
    if (!svg) continue;
    const groups = rows(table), shown = [...svg.querySelectorAll('g.row')];
    const want = groups.slice(0, 15).map(r => [r[0], num(r[2]), num(r[3])]);
    if (groups.length > 15) want.push(['Others', groups.slice(15).reduce((a, r) => a + num(r[2]), 0), groups.slice(15).reduce((a, r) => a + num(r[3]), 0)]);
    const got = shown.map(g => [g.dataset.name, num(g.querySelector('rect.pages').dataset.value), num(g.querySelector('rect.cost').dataset.value)]);
    if (JSON.stringify(got) !== JSON.stringify(want)) faults.push(chart + ': bars ' + JSON.stringify(got) + ' but the table ' + JSON.stringify(want));
    for (const kind of ['pages', 'cost']) {
      proportional(chart + ' ' + kind, shown.map(g => ({name: g.dataset.name.slice(0, 20), value: num(g.querySelector('rect.' + kind).dataset.value), rect: box(g.querySelector('rect.' + kind))})), r => r.width);
    }
  }
  for (const [chart, table] of [['chart-day', 'by-day'], ['chart-month', 'by-month']]) {
    const svg = document.getElementById(chart);
    if (!svg) continue;
    const want = rows(table).filter(r => num(r[2]) > 0).map(r => [r[0], num(r[2])]);
    const bars = [...svg.querySelectorAll('rect[data-value]')].map(r => ({name: r.dataset.label, value: num(r.dataset.value), rect: box(r)}));
    const got = [...bars].sort((a, b) => a.rect.left - b.rect.left).map(b => [b.name, b.value]);
    if (JSON.stringify(got) !== JSON.stringify(want)) faults.push(chart + ': columns left to right ' + JSON.stringify(got) + ' but the table ' + JSON.stringify(want));
    proportional(chart, bars, r => r.height);
    for (const b of bars) near(chart + ' ' + b.name + ' bottom', b.rect.bottom, bars[0].rect.bottom);
  }
  const colour = document.getElementById('chart-colour');
  if (colour) {
    const want = rows('by-colour').map(r => [r[0], num(r[1])]);
    const bars = [...colour.querySelectorAll('rect[data-value]')].map(r => ({name: r.dataset.label, value: num(r.dataset.value), rect: box(r)}));
    const got = bars.map(b => [b.name, b.value]);
    if (JSON.stringify(got) !== JSON.stringify(want)) faults.push('chart-colour: parts ' + JSON.stringify(got) + ' but the table ' + JSON.stringify(want));
    proportional('chart-colour', bars, r => r.width);
    near('chart-colour: the parts fill the bar', bars.reduce((a, b) => a + b.rect.width, 0), box(colour).width);
    bars.slice(1).forEach((b, i) => near('chart-colour: ' + b.name + ' starts where the part before ends', b.rect.left, bars[i].rect.right));
  }
  return {faults, charts, scrollWidth: document.documentElement.scrollWidth,
          users: rows('job-list').map(r => r[2]), docs: rows('job-list').map(r => r[4])};
})()""" % sorted(TAGS).__repr__()


def daily_log(printer, date, entries, encoding="UTF-8"):
    """A daily log of (user, document, pages, cost) on date YYYY/MM/DD, each with its print details."""
    body = "".join(
        "<entry> <date>%s</date><time>10:%02d:00</time> <id>%d</id><user>%s</user> <printer>%s</printer>"
        "<doc>%s</doc> <pages>%d</pages> <cost>%d</cost> <copies>1</copies><colorpages>%d</colorpages>"
        "<monopages>%d</monopages> <sides>one-sided</sides><paper>A4</paper><client>pc-1</client>"
        "<colorfrom>document</colorfrom></entry>" % (date, i, 900 + i, user, printer, doc, pages, cost,
                                                     pages // 2, pages - pages // 2)
        for i, (user, doc, pages, cost) in enumerate(entries))
    total = sum(e[3] for e in entries)
    return PROLOG % encoding + "<log> <type>%s</type> <date>%s</date>%s<entry><user>Total</user><cost>%d</cost>" \
        "</entry></log>" % (printer, date, body, total)


def global_log(logs, date):
    """The global log of the daily logs in logs, in UTF-8, as the agent gathers it."""
    entries, total = [], 0
    for name in sorted(os.listdir(logs)):
        with open(os.path.join(logs, name), "rb") as f:
            data = f.read()
        text = data.decode("utf-8" if b"UTF-8" in data[:60] else "latin-1")
        for entry in re.findall(r"<entry>.*?</entry>", text):
            found = re.search(r"<user>Total</user><cost>(\d+)</cost>", entry)
            if found:
                total += int(found.group(1))
            else:
                entries.append(entry)
    return (PROLOG % "UTF-8" + "<log> <type>Global Log</type> <date>%s</date>%s<entry><user>Total</user><cost>%d"
            "</cost></entry></log>" % (date, "".join(entries), total))


# The jobs into a private PostgreSQL (scripts/lib/pg-env.sh), and its
# report; the server stopped and its folder removed however the script ends.
DATABASE = r"""set -eu
source "$1/../../scripts/lib/pg-env.sh"
pg_env_available || exit 77
trap pg_env_stop EXIT
trap 'exit 143' TERM INT HUP
pg_env_private_odbc "$6/odbc"
pg_env_start
export PELKO_REGISTRY=$6/db-registry
"$3" add 'HKLM\Software\Pelko' /v DatabaseConnection /t REG_SZ /d "$PG_ENV_ODBC" /f >/dev/null
"$4" --set-password <<<pgsecret >/dev/null 2>&1
"$4" --check >/dev/null
pg_psql -c "\copy pelko_jobs (server_name, printer, log_date, job_id, user_name, document, pages, cost, job_date,
  job_time, copies, color_pages, mono_pages, sides, paper, client, color_from) FROM '$5' WITH (FORMAT csv)"
# Rows written by hand, not by an agent: their sums made anew, as docs/database.md has it.
pg_psql -c "DELETE FROM pelko_job_sums; UPDATE pelko_schema_version SET version = 3" >/dev/null
"$4" --check >/dev/null
"$2" --database "$PG_ENV_ODBC" --password-stdin --html --encoding utf-8 -o "$7" <<<pgsecret
"""
ROW = re.compile(r"<entry> <date>([^<]*)</date><time>([^<]*)</time> <id>(\d+)</id><user>([^<]*)</user> "
                 r"<printer>([^<]*)</printer><doc>([^<]*)</doc> <pages>(\d+)</pages> <cost>(\d+)</cost>(?: "
                 r"<copies>(\d+)</copies><colorpages>(\d+)</colorpages><monopages>(\d+)</monopages> <sides>"
                 r"([^<]*)</sides><paper>([^<]*)</paper><client>([^<]*)</client><colorfrom>([^<]*)</colorfrom>)?")


def database_rows(logs, path):
    """The rows of make_daily_logs.py's logs, and the hostile jobs as a database may hold them: unstripped,
    as long as its columns (255)."""
    with open(path, "w", newline="", encoding="utf-8") as f:
        w = csv.writer(f)
        for name in sorted(os.listdir(logs)):
            if name.startswith("Printer"):
                with open(os.path.join(logs, name), encoding="latin-1") as log:
                    for row in ROW.findall(log.read()):
                        w.writerow(["srv1", row[4], name[-12:-4]] + [row[2], row[3], row[5]] + list(row[6:8]) +
                                   list(row[0:2]) + list(row[8:]))
        for i, (user, doc, pages, cost) in enumerate(HOSTILE):
            w.writerow(["srv2", "Front desk", "20261205", 900 + i, user[:255], doc, pages, cost, "2026/12/05",
                        "10:%02d:00" % i, 1, pages // 2, pages - pages // 2, "one-sided", "A4", "pc-1", "document"])


def stripped(name):
    return re.sub("[<>&'\"]", "", name)


def mailed_html(work, logs):
    """The HTML part of the mail the mail program sends of the global log, in a file."""
    pelko = os.path.join(work, "pelko")
    os.makedirs(os.path.join(pelko, "Logs"))
    sent = os.path.join(pelko, "Logs", "GlobalLog_20261209.xml")
    with open(sent, "w", encoding="utf-8") as f:
        f.write(global_log(logs, "2026/12/09"))
    out = os.path.join(work, "smtp")
    global SERVER
    server = SERVER = subprocess.Popen(["/usr/bin/python3", os.path.join(HERE, "..", "sendrik", "smtp_server.py"),
                               "--out", out, "--lifetime", "60"], stdout=subprocess.PIPE,
                              stderr=subprocess.DEVNULL, text=True)
    try:
        line = server.stdout.readline()
        if not line.startswith("ready "):
            raise RuntimeError("the test SMTP server did not start")
        env = dict(os.environ, PELKO_REGISTRY=os.path.join(work, "registry"))
        for name, kind, data in [("Path", "REG_SZ", pelko), ("ToSendFile", "REG_SZ", sent),
                                 ("MailServer", "REG_SZ", "127.0.0.1"), ("MailPort", "REG_DWORD", line.split()[1]),
                                 ("MailSecurity", "REG_DWORD", "0"), ("MailFrom", "REG_SZ", "pelko@example.com"),
                                 ("MailTo", "REG_SZ", "boss@example.com"), ("MailTimeout", "REG_DWORD", "5")]:
            subprocess.run([PELKOREG, "add", r"HKLM\Software\Pelko", "/v", name, "/t", kind, "/d", data, "/f"],
                           env=env, check=True, capture_output=True, timeout=60)
        subprocess.run([SENDRIK], env=env, check=True, capture_output=True, timeout=60)
    finally:
        server.kill()
        server.wait(timeout=10)
        server.stdout.close()
    with open(os.path.join(out, "0.eml"), "rb") as f:
        message = email.message_from_binary_file(f, policy=email.policy.default)
    html = next(p for p in message.walk() if p.get_content_type() == "text/html")
    path = os.path.join(work, "mailed.html")
    with open(path, "wb") as f:
        f.write(html.get_payload(decode=True))
    return path


ALL_CHARTS = {"chart-user", "chart-printer", "chart-day", "chart-month", "chart-colour"}


class Reports(unittest.TestCase):
    """One browser and one logs folder for every page."""

    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix="pelko-browser.")
        start = time.monotonic()
        cls.browser = browser.Browser(cls.work)
        cls.browser.open_page()
        cls.started = time.monotonic() - start
        logs = cls.logs = os.path.join(cls.work, "Logs")
        subprocess.run([sys.executable, os.path.join(HERE, "..", "..", "bench", "make_daily_logs.py"), "--details",
                        logs, "3", "70", "4", "20261001"], check=True, capture_output=True, timeout=120)
        with open(os.path.join(logs, "Front desk_20261205.xml"), "w", encoding="utf-8") as f:
            f.write(daily_log("Front desk", "2026/12/05", HOSTILE))
        os.makedirs(SHOTS, exist_ok=True)

    @classmethod
    def tearDownClass(cls):
        cls.browser.close()

    def open(self, path, shot, charts=ALL_CHARTS):
        """Loads the page at desktop and phone widths; what the page found at each. A page with
        shot None leaves no screenshots."""
        b = self.browser
        b.viewport(1100, 1300)
        took = b.load("file://" + path)
        desktop = b.evaluate(FAULTS)
        if shot:
            b.screenshot(os.path.join(SHOTS, shot + "-desktop.png"))
        b.viewport(375, 812, mobile=True)
        phone = b.evaluate(FAULTS)
        if shot:
            b.screenshot(os.path.join(SHOTS, shot + "-phone.png"))
        print(f"{shot or os.path.basename(path)}: {os.path.getsize(path)} bytes, loaded in {took:.2f} s "
              f"(chromium started in {self.started:.2f} s)", file=sys.stderr)
        events = b.drain()
        heard = [e for e in events if e.get("method") in (
            "Runtime.consoleAPICalled", "Runtime.exceptionThrown", "Log.entryAdded")]
        self.assertEqual(heard, [], "the page logs nothing")
        asked = [e["params"]["request"]["url"] for e in events if e.get("method") == "Network.requestWillBeSent"]
        self.assertEqual(asked, ["file://" + path], "the page asks for nothing but itself")
        for what, found in (("desktop", desktop), ("phone", phone)):
            self.assertEqual(found["faults"], [], what)
            self.assertLessEqual(charts, set(found["charts"]), what)
        self.assertLessEqual(phone["scrollWidth"], 375, "no sideways scrolling on a phone")
        return desktop

    def test_pelkoreport_in_utf8(self):
        path = os.path.join(self.work, "report.html")
        subprocess.run([PELKOREPORT, "--html", "--encoding", "utf-8", "-o", path, self.logs], check=True, timeout=120)
        found = self.open(path, "report")
        for user, doc, _, _ in HOSTILE:
            self.assertIn(stripped(user), found["users"], "a name is text, whole")
            self.assertIn(stripped(doc), found["docs"], "a title is text, whole")

    def test_pelkoreport_in_windows_1252(self):
        path = os.path.join(self.work, "report-1252.html")
        subprocess.run([PELKOREPORT, "--html", "-o", path, self.logs], check=True, timeout=120)
        found = self.open(path, "report-1252")
        self.assertIn("J\u00fcrgen", found["users"], "the page's charset is the one declared")
        self.assertIn("Menu \u20ac.pdf", found["docs"], "the page's charset is the one declared")

    def test_database_report(self):
        global DATABASE_SCRIPT
        rows, path = os.path.join(self.work, "rows.csv"), os.path.join(self.work, "database.html")
        database_rows(self.logs, rows)
        DATABASE_SCRIPT = subprocess.Popen(
            ["bash", "-c", DATABASE, "database", HERE, PELKOREPORT, PELKOREG,
             os.path.join(os.path.dirname(PELKOREG), "pelkodb"), rows, self.work, path],
            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        output = DATABASE_SCRIPT.communicate(timeout=240)[0]
        if DATABASE_SCRIPT.returncode == 77:
            self.skipTest("needs root, PostgreSQL and its ODBC driver")
        self.assertEqual(DATABASE_SCRIPT.returncode, 0, output)
        found = self.open(path, "database")
        for user, doc, _, _ in HOSTILE:
            self.assertIn(user[:255], found["users"], "a name from the database is text, whole, markup and all")
            self.assertIn(doc, found["docs"], "a title from the database is text, whole, markup and all")

    def test_every_page_of_the_site(self):
        today = datetime.date.today()
        first = (today.replace(day=1) - datetime.timedelta(days=40)).replace(day=1)
        logs, site = os.path.join(self.work, "SiteLogs"), os.path.join(self.work, "site")
        subprocess.run([sys.executable, os.path.join(HERE, "..", "..", "bench", "make_daily_logs.py"), "--details",
                        "--users", "4", logs, "2", str((today - first).days + 1), "3", first.strftime("%Y%m%d")],
                       check=True, capture_output=True, timeout=120)
        with open(os.path.join(logs, today.strftime("Front desk_%Y%m%d.xml")), "w", encoding="utf-8") as f:
            f.write(daily_log("Front desk", today.strftime("%Y/%m/%d"), HOSTILE))
        subprocess.run([PELKOREPORT, "--site", site, logs], check=True, capture_output=True, timeout=120)
        pages = sorted(name for name in os.listdir(site) if name.endswith(".html"))
        users = [name for name in pages if name.startswith("user-")]
        self.assertEqual(len(users), 4 + len(HOSTILE))
        for page in pages:
            with self.subTest(page=page):
                shot = {"index.html": "site-index", users[0]: "site-user"}.get(page)
                found = self.open(os.path.join(site, page), shot,
                                  {"chart-user", "chart-printer", "chart-month"} if page == "index.html" else set())
                if page == "index.html":
                    for user, _, _, _ in HOSTILE:
                        self.assertIn(stripped(user), found["users"], "a name is text, whole")

    def test_mailed_report(self):
        path = mailed_html(self.work, self.logs)
        found = self.open(path, "mail")
        self.assertIn(HEBREW, found["users"], "a right-to-left name in the mail")


SERVER = DATABASE_SCRIPT = None


def stop(signum, _frame):
    # Killed (a CTest timeout): the browser's guard sees the test go; the
    # database's script stops its server as it ends.
    if SERVER:
        SERVER.kill()
    if DATABASE_SCRIPT and DATABASE_SCRIPT.poll() is None:
        DATABASE_SCRIPT.terminate()
        DATABASE_SCRIPT.wait(timeout=60)
    os._exit(128 + signum)


if __name__ == "__main__":
    if not browser.CHROMIUM:
        print("skip: chromium is not installed", file=sys.stderr)
        sys.exit(77)
    for s in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
        signal.signal(s, stop)
    unittest.main(argv=sys.argv[:1], verbosity=2)
