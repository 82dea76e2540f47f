#!/usr/bin/env python3
"""colour_delay.py PAGE_LOG JOBS DAILY_LOG on|off

Watches CUPS's page_log and the daily log every 5 ms until each job of JOBS
(one id a line) has its final entry: its pages as page_log counts them and,
"on", its colour counted from its document. Prints the jobs' delays from
the page_log line to that entry: median and 95th percentile, in ms."""
import os
import re
import statistics
import sys
import time

page_log, jobs_file, daily_log, mode = sys.argv[1:5]
jobs = set(open(jobs_file).read().split())
ended, final, counted = {}, {}, {}
ENTRY = re.compile(r"<id>(\d+)</id>.*?<pages>(\d+)</pages>.*?(?:<colorfrom>(\w*)</colorfrom>)?</entry>")
deadline = time.monotonic() + 600
while len(final) < len(jobs) and time.monotonic() < deadline:
    now = time.monotonic()
    if os.path.exists(page_log):
        for line in open(page_log, errors="replace"):
            fields = line.split()
            if len(fields) > 3 and fields[-2] == "total" and fields[2] in jobs:
                if fields[2] not in ended:
                    ended[fields[2]] = now
                counted[fields[2]] = fields[-1]
    if os.path.exists(daily_log):
        text = open(daily_log, encoding="latin-1").read()
        for job, pages, source in ENTRY.findall(text.replace("<entry>", "\n<entry>")):
            if job in ended and job not in final and pages == counted.get(job) and \
                    (mode == "off" or source == "document"):
                final[job] = now
    time.sleep(0.005)
if len(final) < len(jobs):
    sys.exit("colour_delay: %d of %d jobs never had a final entry" % (len(jobs) - len(final), len(jobs)))
delays = sorted((final[j] - ended[j]) * 1000 for j in jobs)
p95 = delays[min(len(delays) - 1, int(round(0.95 * (len(delays) - 1))))]
print("%d jobs, delay from end to final entry: median %.0f ms, 95th percentile %.0f ms"
      % (len(delays), statistics.median(delays), p95))
