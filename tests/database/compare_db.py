#!/usr/bin/env python3
"""compare_db.py LOGS_DIR DUMP [quiet]

Whether the database dump (rows of printer, log_date, job_id, user_name,
document, pages, cost, job_date, job_time, copies, color_pages, mono_pages,
sides, paper, client, color_from; fields split by 0x1F, rows by 0x1E, NULL
shown as NULL) holds exactly the job entries of the daily logs in LOGS_DIR:
one row per entry (keyed by printer, log date, job id and the entry's date
and time, as the table is), equal in every value, the print details those
of the log's details twin ("_YYYYMMDD.details") where the entry holds none,
NULL where neither does and for a text left empty. Prints the
differences and "rows: DB / entries"; exit status 0 when equal."""
import os
import re
import sys

ENTRY = re.compile(rb"<entry> <date>([^<]*)</date><time>([^<]*)</time> <id>([^<]*)</id>"
                   rb"<user>([^<]*)</user> <printer>([^<]*)</printer><doc>([^<]*)</doc> "
                   rb"<pages>([^<]*)</pages> <cost>([^<]*)</cost>"
                   rb"(?: <copies>([^<]*)</copies><colorpages>([^<]*)</colorpages>"
                   rb"<monopages>([^<]*)</monopages> <sides>([^<]*)</sides><paper>([^<]*)</paper>"
                   rb"<client>([^<]*)</client><colorfrom>([^<]*)</colorfrom>)?</entry>")
NAME = re.compile(r"_(\d{8})\.xml$", re.I)
TWIN = re.compile(r"_(\d{8})\.details$")


def text(raw):
    try:
        return raw.decode("utf-8")
    except UnicodeDecodeError:
        return raw.decode("cp1252", errors="replace")


def leading_int(raw):
    m = re.match(rb"\s*([+-]?\d+)", raw)
    return int(m.group(1)) if m else 0


def log_rows(folder, pattern=NAME):
    rows = {}
    for root, _, names in os.walk(folder):
        for name in names:
            m = pattern.search(name)
            if not m or re.search("AllDay|Aggregate|Global", name):
                continue
            data = open(os.path.join(root, name), "rb").read()
            total = data.find(b"<entry><user>Total</user>")
            if total >= 0:
                data = data[:total]
            for e in ENTRY.finditer(data):
                date, time, jid, user, printer, doc, pages, cost = e.groups()[:8]
                key = (text(printer), m.group(1), leading_int(jid), text(date), text(time))
                details = e.groups()[8:]
                if details[0] is None:
                    details = ("NULL",) * 7
                else:
                    details = tuple(str(leading_int(d)) for d in details[:3]) + tuple(
                        text(d) or "NULL" for d in details[3:])
                rows[key] = (text(user), text(doc), str(leading_int(pages)),
                             str(leading_int(cost))) + details
    if pattern is NAME:
        for key, twin in log_rows(folder, TWIN).items():
            if key in rows and rows[key][4:] == ("NULL",) * 7:
                rows[key] = rows[key][:4] + twin[4:]
    return rows


def db_rows(dump):
    rows, count = {}, 0
    data = open(dump, "rb").read().decode("utf-8")
    for line in data.split("\x1e"):
        line = line.strip("\n")
        if not line:
            continue
        f = line.split("\x1f")
        count += 1
        rows[(f[0], f[1], int(f[2]), f[7], f[8])] = tuple(f[3:7] + f[9:])
    return rows, count


def main():
    logs = log_rows(sys.argv[1])
    db, count = db_rows(sys.argv[2])
    quiet = len(sys.argv) > 3
    bad = 0
    for key, value in logs.items():
        if db.get(key) != value:
            bad += 1
            if not quiet and bad <= 10:
                print("log %r: %r, database: %r" % (key, value, db.get(key)))
    extra = count - len(logs)
    if not quiet:
        print("rows: %d / %d entries, %d differ" % (count, len(logs), bad))
    sys.exit(0 if bad == 0 and extra == 0 else 1)


main()
