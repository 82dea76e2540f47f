#!/usr/bin/env python3
"""db_rows.py LOGS_FOLDER SERVER OUT.csv

The rows the agent makes of the daily logs in LOGS_FOLDER, as CSV in the
column order of pelko_jobs (no details), for the bulk loads the database
bench holds the agent's first sync to: COPY and LOAD DATA LOCAL INFILE."""
import csv
import glob
import os
import re
import sys

ENTRY = re.compile(r"<entry> <date>([^<]*)</date><time>([^<]*)</time> <id>(\d+)</id><user>([^<]*)"
                   r"</user> <printer>([^<]*)</printer><doc>([^<]*)</doc> <pages>(\d+)</pages> "
                   r"<cost>(\d+)</cost>")


def main():
    folder, server, out = sys.argv[1:4]
    with open(out, "w", newline="") as f:
        w = csv.writer(f)
        for path in sorted(glob.glob(os.path.join(folder, "*.xml"))):
            log_date = os.path.basename(path)[-12:-4]
            text = open(path, encoding="latin-1").read()
            for date, time, job, user, printer, doc, pages, cost in ENTRY.findall(text):
                w.writerow([server, printer, log_date, job, user, doc, pages, cost, date, time])


main()
