#!/usr/bin/env python3
"""colour_judge.py PAGE_LOG JOBS LOGS [--quiet]

Judges each job of JOBS ("id queue pages judged" lines: the document's
colour pages, 1 or 0 each, and "document" where the measure decides or
"request" where the job's asked mode does) against CUPS's page_log, whose
lines are "printer user id print-color-mode sides media host copies [time]
total count", and today's daily logs in LOGS. Prints "all right" or one
line for each job that is not; with --quiet, says it by the exit status."""
import datetime
import os
import sys
import xml.etree.ElementTree as ET

# The test's tariffs: mono and colour price, two-sided discount, paper factors.
TARIFF = {"Colour": (10, 80, 50, {"a3": 2000}), "Mono": (4, 4, 0, {})}


def page_log(path):
    jobs = {}
    with open(path, encoding="utf-8", errors="replace") as f:
        for line in f:
            fields = line.split()
            if len(fields) < 11 or fields[-2] != "total":
                continue
            keep = [("" if v == "-" else v) for v in fields[3:8]]
            jobs[fields[2]] = dict(zip(("mode", "sides", "media", "host", "copies"), keep),
                                   queue=fields[0], pages=int(fields[-1]))
    return jobs


def entries(logs, queue):
    day = datetime.date.today().strftime("%Y%m%d")
    path = os.path.join(logs, "%s_%s.xml" % (queue, day))
    if not os.path.exists(path):
        return {}
    found = {}
    for e in ET.parse(path).getroot().iter("entry"):
        if e.findtext("id") is not None:
            found.setdefault(e.findtext("id"), []).append({c.tag: (c.text or "") for c in e})
    return found


def color_among(colours, printed):
    if not colours:
        return 0
    whole, rest = divmod(printed, len(colours))
    return whole * colours.count("1") + colours[:rest].count("1")


def cost(queue, color, mono, sides, paper):
    mono_price, color_price, discount, factors = TARIFF[queue]
    key = paper.lower().split(".")[0]
    factor = factors.get(key, 1000)
    off = discount if sides.startswith("two-sided") else 0
    exact = (color * color_price + mono * mono_price) * factor * (100 - off)
    return (exact + 50000) // 100000


def judge(printed, jobs, logs):
    wrong = []
    kept = {q: entries(logs, q) for q in TARIFF}
    for line in open(jobs):
        job, queue, colours, judged = line.split()
        told = printed.get(job)
        if told is None:
            wrong.append("job %s: not in page_log" % job)
            continue
        pages = told["pages"]
        if queue == "Mono":
            color, source = 0, "printer"
        elif told["mode"] == "monochrome":
            color, source = 0, "request"
        elif judged == "request":
            color, source = pages, "request"
        else:
            color, source = color_among(colours, pages), "document"
        want = {"pages": str(pages), "colorpages": str(color), "monopages": str(pages - color),
                "colorfrom": source, "sides": told["sides"], "paper": told["media"],
                "client": told["host"], "copies": told["copies"],
                "cost": str(cost(queue, color, pages - color, told["sides"], told["media"]))}
        found = kept[queue].get(job, [])
        if len(found) != 1:
            wrong.append("job %s on %s: %d entries" % (job, queue, len(found)))
            continue
        have = {k: found[0].get(k) for k in want}
        if have != want:
            wrong.append("job %s on %s: want %s, have %s" % (job, queue, want, have))
    return wrong


def main():
    wrong = judge(page_log(sys.argv[1]), sys.argv[2], sys.argv[3])
    if "--quiet" in sys.argv:
        sys.exit(1 if wrong else 0)
    print("\n".join(wrong) if wrong else "all right")


if __name__ == "__main__":
    main()
