#!/usr/bin/env python3
"""The report page in a real browser (make test-browser).

Generates a small fleet, adds an instrument whose log texts are markup, writes the page with
`errlog report`, opens it in headless Chromium and checks what a person would see: the counts
that `errlog show --jsonl` and `errlog verify --json` give for the same fleet, a table that
filters by code, texts from the logs shown as text, no request leaving the page, no console
error. Keeps 1280x800 screenshots (the top, the lists, the table) and one of the whole page
in the output folder.

    report_page_browser.py --bin BUILD/bin --out BUILD/browser [--chromium chromium]

Prints one line per check and ends with "N passed, N failed"; exits 1 when any failed.
"""

import argparse
import collections
import json
import os
import shutil
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from cdp import Browser, BrowserError  # noqa: E402

# Texts that would be markup if the page took them as such; U+2028 ends a line in old scripts.
HOSTILE_SCRIPT = """define 3 300 ARCHIVE 0 0 "%s" - "<b>COMP" - -
report 990 "</script><img src=http://127.0.0.1:9/x onerror=alert(1)><!-- \u2028"
report 990 "plain <i>text</i> & more"
"""


class Checks:
    def __init__(self):
        self.passed = self.failed = 0

    def check(self, ok, what, detail=""):
        print(("ok   " if ok else "FAIL ") + what + ("" if ok else f": {detail}"), flush=True)
        if ok:
            self.passed += 1
        else:
            self.failed += 1
        return ok


def run(cmd, statuses=(0,), **kw):
    """A command's output; an exit status not in statuses is an error."""
    r = subprocess.run(cmd, stdout=subprocess.PIPE, text=True, **kw)
    if r.returncode not in statuses:
        raise subprocess.CalledProcessError(r.returncode, cmd)
    return r.stdout


def make_fleet(bindir, out):
    """OUT/fleet: a generated fleet and one instrument made by errsim."""
    fleet = os.path.join(out, "fleet")
    shutil.rmtree(fleet, ignore_errors=True)
    run([os.path.join(bindir, "report_fleet_gen"), fleet, "40", "7"], stderr=subprocess.DEVNULL)
    script = os.path.join(out, "hostile.errsim")
    with open(script, "w", encoding="utf-8") as f:
        f.write(HOSTILE_SCRIPT)
    root = os.path.join(fleet, "inst-markup")
    run([os.path.join(bindir, "errsim"), "--root", root, "--quiet", "--script", script],
        stderr=subprocess.DEVNULL)


def expected_counts(errlog, fleet):
    """Entries, logs, and the most frequent code with its count, as the other commands say."""
    # The fleet holds corrupt logs: both commands exit 1.
    lines = run([errlog, "show", fleet, "--jsonl"], (0, 1), stderr=subprocess.DEVNULL).split("\n")
    lines = [line for line in lines if line]  # (splitlines would also split at U+2028)
    entries = [json.loads(line) for line in lines]
    codes = collections.Counter(e["code"] for e in entries if e["type"] == "error")
    top_code, top_count = max(codes.items(), key=lambda kv: (kv[1], -kv[0]))
    verify = run([errlog, "verify", fleet, "--json"], (0, 1), stderr=subprocess.DEVNULL)
    logs = [v for v in json.loads(verify) if "valid" in v]
    return len(entries), len(logs), top_code, top_count


# Sets a filter field as a person types into it, then waits until the table has followed.
FILTER_JS = """new Promise(function (done) {
  var status = document.getElementById('table-status'), before = status.textContent;
  var field = document.getElementById(%s);
  field.value = %s;
  field.dispatchEvent(new Event('input', {bubbles: true}));
  var waited = 0;
  (function poll() {
    if (status.textContent !== before || waited > 3000) return done(status.dataset.matching);
    waited += 20;
    setTimeout(poll, 20);
  })();
})"""

# The codes and texts of every row on every page of the table, walking the pager.
ALL_ROWS_JS = """(function () {
  var rows = [], next = document.getElementById('p-next');
  document.getElementById('p-first').click();
  for (var guard = 0; guard < 10000; guard++) {
    document.querySelectorAll('#entries-body tr').forEach(function (tr) {
      rows.push([tr.querySelector('td.code').textContent, tr.querySelector('td.text').textContent]);
    });
    if (next.disabled) break;
    next.click();
  }
  return rows;
})()"""


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--bin", required=True)
    ap.add_argument("--out", required=True)
    ap.add_argument("--chromium", default="chromium")
    args = ap.parse_args()
    out = os.path.abspath(args.out)
    os.makedirs(out, exist_ok=True)
    errlog = os.path.abspath(os.path.join(args.bin, "errlog"))
    c = Checks()

    make_fleet(args.bin, out)
    os.chdir(out)  # the page names the fleet as a user who works beside it would: "fleet/..."
    fleet, page = "fleet", os.path.join(out, "report.html")
    status = subprocess.run([errlog, "report", fleet, "-o", page], stderr=subprocess.PIPE,
                            text=True)
    c.check(status.returncode in (0, 1) and os.path.getsize(page) > 0,
            "errlog report wrote the page", status.stderr)
    entries, logs, top_code, top_count = expected_counts(errlog, fleet)
    print(f"fleet: {logs} logs, {entries} entries, top code {top_code} ({top_count} errors)")

    browser = Browser(args.chromium, 1280, 800, timeout=30)
    url = "file://" + page
    try:
        started = time.monotonic()
        browser.open(url)
        ready = browser.evaluate("document.body.dataset.ready")
        c.check(ready == "true", "the page's script ran to its end",
                f"body data-ready={ready!r}")
        print(f"page loaded and its table built in {time.monotonic() - started:.2f} s")
        value = lambda sel: browser.evaluate(  # noqa: E731
            f"(function(e){{return e && e.dataset.value}})(document.querySelector('{sel}'))")
        c.check(value("#sum-entries") == str(entries), "summary: entries",
                f"{value('#sum-entries')} != {entries}")
        c.check(value("#sum-logs") == str(logs), "summary: logs", f"{value('#sum-logs')} != {logs}")
        top = browser.evaluate("""(function () {
            var r = document.querySelector('#top-codes tbody tr');
            return r ? [r.dataset.code, r.dataset.count] : null; })()""")
        c.check(top == [str(top_code), str(top_count)], "most frequent code and its count",
                f"{top} != {[top_code, top_count]}")
        matching = browser.evaluate("document.getElementById('table-status').dataset.matching")
        c.check(matching == str(entries), "the table holds every entry", f"{matching}")
        browser.screenshot(os.path.join(out, "report-page.png"))
        browser.screenshot(os.path.join(out, "report-page-full.png"), full_page=True)
        browser.evaluate("document.getElementById('most-frequent').scrollIntoView()")
        browser.screenshot(os.path.join(out, "report-page-lists.png"))
        browser.evaluate("document.getElementById('entries').scrollIntoView()")
        browser.screenshot(os.path.join(out, "report-page-entries.png"))
        browser.evaluate("window.scrollTo(0, 0)")

        shown = browser.evaluate(FILTER_JS % ("'f-code'", json.dumps(str(top_code))))
        rows = browser.evaluate(ALL_ROWS_JS)
        c.check(shown == str(top_count) and len(rows) == top_count and
                all(code == str(top_code) for code, _ in rows),
                f"filtered by code {top_code}: only its {top_count} rows",
                f"status {shown}, {len(rows)} rows, codes {sorted({r[0] for r in rows})[:5]}")
        browser.evaluate(FILTER_JS % ("'f-code'", "''"))
        shown = browser.evaluate(FILTER_JS % ("'f-text'", "'onerror'"))
        rows = browser.evaluate(ALL_ROWS_JS)
        c.check(shown == "1" and len(rows) == 1 and rows[0][1].startswith("</script><img src="),
                "a log text that is markup is shown as text", f"{shown}: {rows}")
        listed = browser.evaluate("""Array.from(document.querySelectorAll(
            '#top-components td')).map(function (td) { return td.textContent; })""")
        c.check("<b>COMP" in listed, "a component that is markup is listed as text",
                f"{listed[:40]}")
        markup = browser.evaluate("""[document.querySelectorAll('img').length,
            document.querySelectorAll('script').length, document.querySelectorAll('b').length -
            document.querySelectorAll('.figure b, #sum-span b').length]""")
        c.check(markup == [0, 2, 0], "the logs added no element to the page",
                f"img, script, stray b: {markup}")
    except BrowserError as e:
        c.check(False, "the page renders in the browser", str(e))
    finally:
        browser.close()

    requests = [e["params"]["request"]["url"] for e in browser.events
                if e["method"] == "Network.requestWillBeSent"]
    c.check(requests == [url], "no request but the page itself", f"{requests}")
    dialogs = [e["params"]["message"] for e in browser.events
               if e["method"] == "Page.javascriptDialogOpening"]
    c.check(not dialogs, "no dialog opened", f"{dialogs}")
    errors = [e for e in browser.events
              if e["method"] == "Runtime.exceptionThrown"
              or (e["method"] == "Runtime.consoleAPICalled"
                  and e["params"]["type"] in ("error", "assert", "warning"))
              or (e["method"] == "Log.entryAdded"
                  and e["params"]["entry"]["level"] in ("error", "warning"))]
    c.check(not errors, "no console error or warning", json.dumps(errors)[:2000])
    print(f"screenshots: {out}/report-page.png (the top), report-page-full.png (all of it), "
          "report-page-lists.png, report-page-entries.png")
    print(f"{c.passed} passed, {c.failed} failed")
    return 1 if c.failed else 0


if __name__ == "__main__":
    sys.exit(main())
