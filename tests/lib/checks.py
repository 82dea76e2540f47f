"""Checks for the Python tests, as tests/lib/check.sh is for the shell ones:
check() prints ok or FAIL and counts failures; end with sys.exit(summary())."""

failures = 0


def check(what, expected, actual):
    global failures
    if expected == actual:
        print(f"ok: {what}")
    else:
        print(f"FAIL: {what}: expected {expected!r}, got {actual!r}")
        failures += 1


def summary():
    """Prints the closing line; the exit status to end with."""
    print(f"{'FAILED' if failures else 'passed'}: {failures} failures")
    return 1 if failures else 0
