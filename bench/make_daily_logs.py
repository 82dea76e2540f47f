#!/usr/bin/env python3
"""make_daily_logs.py [--details] [--users N] FOLDER PRINTERS DAYS JOBS [FIRST_DATE]

Writes daily logs as the agent writes them: PRINTERS printers x DAYS days
(ending on FIRST_DATE + DAYS - 1, FIRST_DATE as YYYYMMDD, default
20261101) x JOBS jobs, for the database figures and tests. With --details
every other job's entry holds its print details, as with LogJobDetails 1.
The jobs are of N users (300 unless told).
Prints the number of jobs and the sum of their costs."""
import datetime
import os
import sys

PROLOG = ("<?xml version='1.0' encoding='ISO-8859-1' ?> "
          "<?xml-stylesheet href='Tavisk.xsl' type='text/xsl' ?>")


def details(j, pages):
    colour = pages * (j % 3) // 3
    return (" <copies>%d</copies><colorpages>%d</colorpages><monopages>%d</monopages> "
            "<sides>%s</sides><paper>%s</paper><client>%s</client><colorfrom>%s</colorfrom>"
            % (j % 3 + 1, colour, pages - colour, ("one-sided", "two-sided-long-edge")[j % 2],
               ("A4", "Letter")[j % 4 // 2], "pc-%02d" % (j % 7) if j % 5 else "",
               ("document", "request", "printer")[j % 3]))


def main():
    with_details = "--details" in sys.argv
    if with_details:
        sys.argv.remove("--details")
    users = 300
    if "--users" in sys.argv:
        at = sys.argv.index("--users")
        users = int(sys.argv[at + 1])
        del sys.argv[at:at + 2]
    folder, printers, days, jobs = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
    first = datetime.datetime.strptime(sys.argv[5] if len(sys.argv) > 5 else "20261101", "%Y%m%d")
    os.makedirs(folder, exist_ok=True)
    count = cost_sum = 0
    for p in range(1, printers + 1):
        printer = "Printer%02d" % p
        for d in range(days):
            day = first + datetime.timedelta(days=d)
            out = [PROLOG, "<log> <type>%s</type> <date>%s</date>" % (printer, day.strftime("%Y/%m/%d"))]
            total = 0
            for j in range(1, jobs + 1):
                pages = (j * 7 + p + d) % 20 + 1
                cost = pages * (p % 5 + 1)
                total += cost
                out.append("<entry> <date>%s</date><time>%02d:%02d:%02d</time> <id>%d</id>"
                           "<user>user%03d</user> <printer>%s</printer><doc>report %d.pdf</doc> "
                           "<pages>%d</pages> <cost>%d</cost>%s</entry>"
                           % (day.strftime("%Y/%m/%d"), 8 + j % 10, j % 60, (j * 7) % 60, j,
                              (j * 13 + p) % users, printer, j, pages, cost,
                              details(j, pages) if with_details and j % 2 else ""))
            out.append("<entry><user>Total</user><cost>%d</cost></entry></log>" % total)
            with open(os.path.join(folder, "%s_%s.xml" % (printer, day.strftime("%Y%m%d"))), "w") as f:
                f.write("".join(out))
            count += jobs
            cost_sum += total
    print(count, cost_sum)


main()
