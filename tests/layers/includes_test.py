#!/usr/bin/python3
"""The build links the layers one way; this keeps the includes one way too,
since every header is reachable from the source root and a lower layer
could include a higher one's header without the build noticing.

includes_test.py SOURCE_ROOT
"""
import pathlib
import re
import sys

# The files of a layer (a folder, or one file), and what they may include
# besides themselves. The first matching row counts.
PLATFORM = ["agent/util/", "agent/platform/"]
LOWEST = PLATFORM + ["agent/core/waiter.h"]
THREADS = LOWEST + ["agent/config/", "agent/logs/", "agent/purge/file_finder.h",
                    "agent/core/worker_thread.h"]
LAYERS = [
    ("agent/util/", []),
    ("agent/platform/", PLATFORM),
    ("agent/config/", PLATFORM),
    ("agent/core/waiter.h", []),
    ("agent/core/worker_thread.", LOWEST),
    ("agent/purge/file_finder.", PLATFORM),
    ("agent/logs/", LOWEST + ["agent/config/", "agent/purge/file_finder.h"]),
    ("agent/purge/", THREADS),
    ("agent/monitor/", THREADS),
    ("agent/mail/", THREADS),
    ("agent/database/", THREADS),
    ("agent/core/", ["agent/"]),
    ("report/", PLATFORM + ["agent/config/", "agent/logs/", "agent/purge/file_finder.h"]),
    ("sendrik/", PLATFORM + ["agent/config/", "agent/logs/log_format.h", "report/"]),
    ("pelkoreg/", PLATFORM),
    ("pelkoctl/", PLATFORM + ["agent/config/", "agent/logs/", "agent/mail/email_alert_thread.h",
                  "agent/monitor/pending_pages.h",
                  "stoptool/posix_process_control.h"]),
    ("pelkodb/", PLATFORM + ["agent/config/", "agent/database/schema.h"]),
    ("stoptool/", []),
]
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.MULTILINE)


def layer_of(path):
    for prefix, allowed in LAYERS:
        if path.startswith(prefix):
            return prefix, allowed
    return None, None


def main():
    root = pathlib.Path(sys.argv[1])
    faults = []
    checked = 0
    for file in sorted(root.glob("**/*")):
        path = file.relative_to(root).as_posix()
        if file.suffix not in (".h", ".cpp") or path.startswith(("build/", "tests/", "bench/")):
            continue
        prefix, allowed = layer_of(path)
        if prefix is None:
            faults.append(f"{path}: in no layer")
            continue
        checked += 1
        for included in INCLUDE.findall(file.read_text(errors="replace")):
            if "/" not in included or included.startswith(prefix):
                continue
            if not any(included.startswith(a) for a in allowed):
                faults.append(f"{path} includes {included}, above its layer")
    for fault in faults:
        print("FAIL:", fault)
    print(f"{checked} files, {len(faults)} includes against the layers")
    return 1 if faults or checked == 0 else 0


sys.exit(main())
