"""Headless Chromium driven over its DevTools pipe (fds 3 and 4), with the standard library only.

Browser(...) starts chromium with a fresh profile and no network of its own, opens one page
target and keeps every event it sends. Messages are JSON texts ended by a NUL byte.
"""

import base64
import json
import os
import select
import shutil
import subprocess
import tempfile
import time

FLAGS = [
    "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
    "--disable-background-networking", "--disable-component-update", "--disable-sync",
    "--disable-default-apps", "--disable-extensions", "--mute-audio",
    "--remote-debugging-pipe",
]


class BrowserError(Exception):
    pass


class Browser:
    def __init__(self, binary, width, height, timeout=60):
        self.timeout = timeout
        self.profile = tempfile.mkdtemp(prefix="errlog-browser-")
        to_child_r, self._to_child = os.pipe()
        self._from_child, from_child_w = os.pipe()

        def fds():  # the pipe's ends at the numbers chromium expects
            a, b = os.dup(to_child_r), os.dup(from_child_w)
            os.dup2(a, 3)
            os.dup2(b, 4)

        self.proc = subprocess.Popen(
            [binary, *FLAGS, f"--user-data-dir={self.profile}",
             f"--window-size={width},{height}", "about:blank"],
            preexec_fn=fds, pass_fds=(3, 4), stdin=subprocess.DEVNULL,
            stdout=subprocess.DEVNULL, stderr=open(os.path.join(self.profile, "stderr"), "wb"))
        os.close(to_child_r)
        os.close(from_child_w)
        self._buffer = b""
        self._next_id = 0
        self.events = []
        target = self.call("Target.createTarget", {"url": "about:blank"})["targetId"]
        self.session = self.call("Target.attachToTarget",
                                 {"targetId": target, "flatten": True})["sessionId"]
        for domain in ("Page", "Runtime", "Network", "Log"):
            self.call(domain + ".enable", session=True)
        self.call("Emulation.setDeviceMetricsOverride",
                  {"width": width, "height": height, "deviceScaleFactor": 1, "mobile": False},
                  session=True)

    def _read_message(self, deadline):
        while b"\0" not in self._buffer:
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([self._from_child], [], [], left)[0]:
                raise BrowserError("no answer from chromium in time")
            chunk = os.read(self._from_child, 1 << 20)
            if not chunk:
                raise BrowserError("chromium closed its pipe (see %s/stderr)" % self.profile)
            self._buffer += chunk
        text, self._buffer = self._buffer.split(b"\0", 1)
        m = json.loads(text)
        if m.get("method") == "Page.javascriptDialogOpening":
            # A dialog would stop the page's script: dismiss it (the event is kept).
            self._send("Page.handleJavaScriptDialog", {"accept": False}, m.get("sessionId"))
        return m

    def _send(self, method, params, session):
        self._next_id += 1
        message = {"id": self._next_id, "method": method, "params": params}
        if session:
            message["sessionId"] = session
        os.write(self._to_child, json.dumps(message).encode() + b"\0")
        return self._next_id

    def call(self, method, params=None, session=False):
        """Sends one command and returns its result; events met meanwhile are kept."""
        sent = self._send(method, params or {}, self.session if session else None)
        deadline = time.monotonic() + self.timeout
        while True:
            m = self._read_message(deadline)
            if m.get("id") == sent:
                if "error" in m:
                    raise BrowserError(f"{method}: {m['error']}")
                return m["result"]
            if "method" in m:
                self.events.append(m)

    def wait_event(self, method):
        deadline = time.monotonic() + self.timeout
        while not any(e["method"] == method for e in self.events):
            m = self._read_message(deadline)
            if "method" in m:
                self.events.append(m)

    def open(self, url):
        self.call("Page.navigate", {"url": url}, session=True)
        self.wait_event("Page.loadEventFired")

    def evaluate(self, expression):
        """The value of a JavaScript expression in the page (awaited when it is a promise)."""
        r = self.call("Runtime.evaluate", {"expression": expression, "returnByValue": True,
                                           "awaitPromise": True}, session=True)
        if "exceptionDetails" in r:
            raise BrowserError(f"{expression!r} threw: {r['exceptionDetails']}")
        return r["result"].get("value")

    def screenshot(self, path, full_page=False):
        """A PNG of the viewport, or of the whole page's height."""
        params = {"format": "png"}
        if full_page:
            size = self.call("Page.getLayoutMetrics", session=True)["cssContentSize"]
            params.update(captureBeyondViewport=True,
                          clip={"x": 0, "y": 0, "width": size["width"],
                                "height": size["height"], "scale": 1})
        data = self.call("Page.captureScreenshot", params, session=True)["data"]
        with open(path, "wb") as f:
            f.write(base64.b64decode(data))

    def close(self):
        try:
            self.call("Browser.close")
        except BrowserError:
            pass
        try:
            self.proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
        os.close(self._to_child)
        os.close(self._from_child)
        shutil.rmtree(self.profile, ignore_errors=True)
