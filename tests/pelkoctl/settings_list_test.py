#!/usr/bin/env python3
"""The one list of settings against the code and the documents.

Every value the programs name under Software\\Pelko (agent/config/settings.h,
and any such path written elsewhere) must be a row of `pelkoctl settings`,
the per-printer values aside; docs/settings.md must hold that table as the
command prints it now (scripts/settings-docs.sh writes it again).

    settings_list_test.py PELKOCTL SOURCE_DIR
"""
import pathlib
import re
import subprocess
import sys

pelkoctl, source = sys.argv[1], pathlib.Path(sys.argv[2])
markdown = subprocess.run([pelkoctl, "settings", "--markdown"], check=True,
                          capture_output=True, text=True).stdout
listed = {m.group(1).lower() for m in re.finditer(r"^\| `([A-Za-z0-9]+)`", markdown, re.M)}

named = set()
header = (source / "agent/config/settings.h").read_text()
# A value named with its key path, or the mail program's bare names.
named |= set(re.findall(r'"(?:SOFTWARE|Software)\\\\Pelko\\\\([A-Za-z0-9]+)"', header))
named |= set(re.findall(r'constexpr char k\w+\[\] = "([A-Za-z0-9]+)";', header))
for folder in ("agent", "pelkoctl", "pelkodb", "pelkoreg", "report", "sendrik", "stoptool"):
    for path in (source / folder).rglob("*.[ch]*"):
        if path.name == "settings.h":
            continue
        for name in re.findall(r'Software\\\\Pelko\\\\([A-Za-z0-9]+)"', path.read_text(errors="replace"),
                               re.I):
            named.add(name)
per_printer = re.compile(r"^Printer\d*$")
missing = sorted(n for n in named if n.lower() not in listed and not per_printer.match(n))

failures = []
if missing:
    failures.append("read by the code but not in the list of settings: " + ", ".join(missing))
docs = (source / "docs/settings.md").read_text()
block = re.search(r"<!-- settings -->\n(.*?)<!-- /settings -->", docs, re.S)
if block is None or block.group(1) != markdown:
    failures.append("docs/settings.md does not hold today's table: run scripts/settings-docs.sh")
for failure in failures:
    print("FAIL", failure)
sys.exit(1 if failures else 0)
