"""Headless Chromium driven over the DevTools protocol on a pipe (fds 3 and
4 of the browser: JSON messages ending in NUL), so no port is opened. Every
wait is bounded. The browser and its children run in a process group of
their own; a guard process kills that group and removes the test's folder,
which holds the browser's profile, once the test closes the browser or goes
away, even killed with SIGKILL (its end of the guard's pipe closes)."""
import base64
import fcntl
import json
import os
import select
import shutil
import signal
import subprocess
import time

CHROMIUM = shutil.which("chromium")
WAIT = 60  # seconds for the browser to start or answer, a page to load


# Once its pipe closes: the browser's group killed, and gone before the
# folder is removed; its crash handlers, in sessions of their own, end with
# it but may still write there for a moment.
GUARD = """cat >/dev/null
kill -KILL -- "-$1" 2>/dev/null
for i in $(seq 600); do kill -0 -- "-$1" 2>/dev/null || break; sleep 0.05; done
for i in $(seq 600); do rm -rf -- "$2" 2>/dev/null; [[ -e $2 ]] || break; sleep 0.05; done
"""


class Timeout(Exception):
    pass


class Browser:
    def __init__(self, folder):
        """folder: the test's temporary folder, removed with the browser."""
        self.profile = os.path.join(folder, "chromium-profile")
        to_browser, self.out = os.pipe()
        self.inp, from_browser = os.pipe()

        def pipes_as_3_and_4():
            # Out of the way first, so that placing one cannot close the other.
            a = fcntl.fcntl(to_browser, fcntl.F_DUPFD, 10)
            b = fcntl.fcntl(from_browser, fcntl.F_DUPFD, 10)
            os.dup2(a, 3)
            os.dup2(b, 4)

        self.process = subprocess.Popen(
            [CHROMIUM, "--headless", "--no-sandbox", "--disable-gpu", "--user-data-dir=" + self.profile,
             "--remote-debugging-pipe", "--no-first-run", "--no-default-browser-check",
             "--disable-background-networking", "--disable-component-update", "--disable-sync",
             "--disable-extensions", "--disable-default-apps", "--mute-audio",
             # Whatever asks for a host finds none: the pages must need no network.
             "--host-resolver-rules=MAP * ~NOTFOUND", "about:blank"],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            pass_fds=(3, 4), preexec_fn=pipes_as_3_and_4, start_new_session=True)
        os.close(to_browser)
        os.close(from_browser)
        self.guard = subprocess.Popen(
            ["bash", "-c", GUARD, "guard", str(self.process.pid), folder],
            stdin=subprocess.PIPE, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
        self.next_id, self.buffer, self.events = 0, b"", []
        self.session = None

    def close(self):
        """Kills the browser's whole group and removes its profile; safe to call twice."""
        try:
            os.killpg(self.process.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
        try:
            self.process.wait(timeout=WAIT)
        except subprocess.TimeoutExpired:
            pass
        # Its children, orphaned, are gone once init has reaped them, and
        # its crash handlers (named by the profile they write to) once they
        # see it gone.
        deadline = time.monotonic() + WAIT
        while time.monotonic() < deadline and (self._group_alive() or self._handlers()):
            time.sleep(0.05)
        for fd in (self.inp, self.out):
            try:
                os.close(fd)
            except OSError:
                pass
        self.inp = self.out = -1
        self.guard.stdin.close()
        self.guard.wait(timeout=WAIT)

    def _group_alive(self):
        try:
            os.killpg(self.process.pid, 0)
            return True
        except ProcessLookupError:
            return False

    def _handlers(self):
        found = []
        for pid in filter(str.isdigit, os.listdir("/proc")):
            try:
                with open(f"/proc/{pid}/cmdline", "rb") as f:
                    if self.profile.encode() in f.read():
                        found.append(pid)
            except OSError:
                pass
        return found

    def _read(self, deadline):
        """One message from the browser, waiting until deadline."""
        while b"\0" not in self.buffer:
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([self.inp], [], [], left)[0]:
                raise Timeout("the browser did not answer")
            chunk = os.read(self.inp, 1 << 20)
            if not chunk:
                raise Timeout("the browser closed its pipe")
            self.buffer += chunk
        message, self.buffer = self.buffer.split(b"\0", 1)
        return json.loads(message)

    def send(self, method, params=None, session=True):
        """Runs a command (in the page's session unless session is False); its result."""
        self.next_id += 1
        message = {"id": self.next_id, "method": method, "params": params or {}}
        if session and self.session:
            message["sessionId"] = self.session
        data = json.dumps(message).encode() + b"\0"
        while data:
            data = data[os.write(self.out, data):]
        deadline = time.monotonic() + WAIT
        while True:
            reply = self._read(deadline)
            if reply.get("id") == self.next_id:
                if "error" in reply:
                    raise RuntimeError(f"{method}: {reply['error']}")
                return reply["result"]
            self.events.append(reply)

    def wait_for(self, method):
        """The first event of this kind since events were last cleared, within the bound."""
        deadline = time.monotonic() + WAIT
        seen = 0
        while True:
            for event in self.events[seen:]:
                if event.get("method") == method:
                    return event
            seen = len(self.events)
            self.events.append(self._read(deadline))

    def open_page(self):
        """A new page, attached; what it logs and asks for is recorded from here on."""
        target = self.send("Target.createTarget", {"url": "about:blank"}, session=False)["targetId"]
        self.session = self.send("Target.attachToTarget", {"targetId": target, "flatten": True},
                                 session=False)["sessionId"]
        for domain in ("Page", "Runtime", "Log", "Network"):
            self.send(domain + ".enable")
        self.events.clear()

    def load(self, url):
        """Loads url and waits for its load event; the seconds it took."""
        self.events.clear()
        start = time.monotonic()
        self.send("Page.navigate", {"url": url})
        self.wait_for("Page.loadEventFired")
        return time.monotonic() - start

    def viewport(self, width, height, mobile=False):
        self.send("Emulation.setDeviceMetricsOverride",
                  {"width": width, "height": height, "deviceScaleFactor": 1, "mobile": mobile})

    def evaluate(self, expression):
        result = self.send("Runtime.evaluate", {"expression": expression, "returnByValue": True})
        if "exceptionDetails" in result:
            raise RuntimeError(f"in the page: {result['exceptionDetails']}")
        return result["result"].get("value")

    def screenshot(self, path):
        data = self.send("Page.captureScreenshot", {"format": "png"})["data"]
        with open(path, "wb") as f:
            f.write(base64.b64decode(data))

    def drain(self):
        """Every event the browser has sent so far, waiting on a round trip."""
        self.send("Runtime.evaluate", {"expression": "0"})
        events, self.events = self.events, []
        return events
