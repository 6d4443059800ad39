#!/usr/bin/env python3
"""Prints the ratio table of one bench/run from the files it left in its results folder.

Usage: report.py RESULTS_FOLDER STRACE_REPORTS CALLGRIND_REPORTS

Every figure is the median over the repetitions of one run; the spread (lowest and highest
repetition) follows in brackets where it matters."""
import json
import os
import re
import statistics
import sys

# The executive calls every report makes (their instructions are counted inside EReportError).
EXECUTIVE_CALLS = ("EVcut_path", "rtx_searchcatalog", "old_rtx_global_alloc", "buildptr",
                   "_rtx_sendmessage")

FILE_CALLS = ["openat", "open", "close", "read", "pread64", "write", "pwrite64", "lseek",
              "newfstatat", "fstat", "fsync", "fdatasync"]


def load_runs(folder):
    path = os.path.join(folder, "bench.json")
    if not os.path.exists(path):
        return {}
    with open(path) as f:
        data = json.load(f)
    runs = {}
    for b in data["benchmarks"]:
        if b.get("run_type") != "iteration" or b.get("error_occurred"):
            continue
        runs.setdefault(b["run_name"], []).append(b)
    return runs


class Figures:
    def __init__(self, runs):
        self.runs = runs

    def find(self, prefix, threads=None):
        for name, reps in self.runs.items():
            if name != prefix and not name.startswith(prefix + "/"):
                continue
            if threads is not None and f"/threads:{threads}" not in name:
                continue
            return reps
        return None

    def value(self, prefix, key, threads=None):
        """(median, lowest, highest) of a counter or time over the repetitions, or None."""
        reps = self.find(prefix, threads)
        if not reps:
            return None
        values = [r[key] for r in reps if key in r]
        if not values:
            return None
        return statistics.median(values), min(values), max(values)


def fmt_scaled(v, steps):
    """The median of v with the first unit of steps [(threshold, divisor, format)] it reaches."""
    if v is None:
        return "n/a"
    for threshold, divisor, form in steps:
        if v[0] >= threshold:
            return form.format(v[0] / divisor)
    return "n/a"


def fmt_ns(v):
    return fmt_scaled(v, [(1e6, 1e6, "{:.2f} ms"), (1e3, 1e3, "{:.1f} us"),
                          (float("-inf"), 1, "{:.0f} ns")])


def fmt_rate(v):
    return fmt_scaled(v, [(1e6, 1e6, "{:.2f} M/s"), (1e3, 1e3, "{:.1f} k/s"),
                          (float("-inf"), 1, "{:.0f} /s")])


def spread(v, unit_fn):
    if v is None:
        return ""
    return f" [{unit_fn((v[1],))}..{unit_fn((v[2],))}]"


def ratio(a, b):
    if a is None or b is None or b[0] == 0:
        return None
    return a[0] / b[0]


def fmt_ratio(r):
    return "n/a" if r is None else f"{r:.2f}x"


def verdict(r, goal, at_most):
    if r is None:
        return "not measured"
    ok = r <= goal if at_most else r >= goal
    return "goal met" if ok else "GOAL MISSED"


def lines_of(path):
    """The lines of a result file, each with its fields split; None when the file is missing."""
    if not os.path.exists(path):
        return None
    with open(path) as f:
        return [(line, line.split()) for line in f]


def parse_strace(path):
    rows = lines_of(path)
    if rows is None:
        return None
    calls = {}
    for _, parts in rows:
        if len(parts) < 5 or not re.match(r"^[0-9.]+$", parts[0]) or parts[-1] == "total":
            continue
        calls[parts[-1]] = int(parts[3])
    return calls


def strace_per_report(folder, mode, n):
    base = parse_strace(os.path.join(folder, f"strace-{mode}-0.txt"))
    full = parse_strace(os.path.join(folder, f"strace-{mode}-{n}.txt"))
    if base is None or full is None:
        return None
    per = {}
    for name in set(base) | set(full):
        d = (full.get(name, 0) - base.get(name, 0)) / n
        if abs(d) >= 0.005:
            per[name] = d
    return per


def callgrind_counts(path):
    """Inclusive instruction counts of the two calls and the program total in one report."""
    rows = lines_of(path)
    if rows is None:
        return None
    counts = {}
    for line, parts in rows:
        value = parts[0].replace(",", "") if parts else ""
        if not value.isdigit():
            continue
        if "PROGRAM TOTALS" in line:
            counts["total"] = int(value)
        for fn in ("EReportError",) + EXECUTIVE_CALLS:
            if fn not in counts and re.search(r"\?\?\?:" + fn + r" \[", line):
                counts[fn] = int(value)
    return counts


def instructions(folder, n):
    """Instructions per call from the callgrind runs: {mode: {function or 'total': Ir}}."""
    result = {}
    for mode in ("report", "send"):
        base = callgrind_counts(os.path.join(folder, f"callgrind-{mode}-0.txt"))
        full = callgrind_counts(os.path.join(folder, f"callgrind-{mode}-{n}.txt"))
        if not base or not full:
            continue
        per = {k: v / n for k, v in full.items() if k != "total"}
        per["total"] = (full.get("total", 0) - base.get("total", 0)) / n
        result[mode] = per
    return result


def max_rss_kb(folder, n):
    path = os.path.join(folder, f"time-archive-{n}.txt")
    if not os.path.exists(path):
        return None
    with open(path) as f:
        for line in f:
            if "Maximum resident set size" in line:
                return int(line.split(":")[-1])
    return None


def parse_storm(path):
    """The two lines of err_bench_storm (task alone, storm) as dicts, or None."""
    rows = lines_of(path)
    if rows is None:
        return None
    found = []
    for _, parts in rows:
        if parts and parts[0] == "storm":
            row = {}
            for field in parts[1:]:
                key, _, value = field.partition("=")
                row[key] = float(value) if "." in value else int(value)
            found.append(row)
    if len(found) != 2:
        return None
    return found


def main():
    folder = sys.argv[1]
    strace_n = int(sys.argv[2]) if len(sys.argv) > 2 else 2000
    fig = Figures(load_runs(folder))
    out = []
    p = out.append

    with open(os.path.join(folder, "machine.txt")) as f:
        p("Machine and run")
        for line in f:
            p("  " + line.rstrip())
    p("")

    # 1. Caller cost.
    rep1 = fig.value("caller/EReportError", "ns_per_call", 1)
    flo1 = fig.value("caller/floor_send", "ns_per_call", 1)
    r1 = ratio(rep1, flo1)
    p("1. Caller cost, 1 reporting thread (a thread drains ERROR_MBX on both sides)")
    p(f"   EReportError          {fmt_ns(rep1):>10}{spread(rep1, fmt_ns)}")
    p(f"   floor: bare send      {fmt_ns(flo1):>10}{spread(flo1, fmt_ns)}")
    p(f"   ratio                 {fmt_ratio(r1):>10}   earlier goal <= 1.5x, replaced by the module share below: {verdict(r1, 1.5, True)}")
    rep0 = fig.value("caller_alone/EReportError", "ns_per_call")
    flo0 = fig.value("caller_alone/floor_send", "ns_per_call")
    r0 = ratio(rep0, flo0)
    p("   the same calls alone (no other thread; the caller empties the mailbox, untimed):")
    p(f"   EReportError          {fmt_ns(rep0):>10}{spread(rep0, fmt_ns)}")
    p(f"   floor: bare send      {fmt_ns(flo0):>10}{spread(flo0, fmt_ns)}")
    p(f"   ratio                 {fmt_ratio(r0):>10}   earlier goal <= 1.5x, replaced by the module share below: {verdict(r0, 1.5, True)}")
    exe1 = fig.value("caller/executive_calls", "ns_per_call", 1)
    exe0 = fig.value("caller_alone/executive_calls", "ns_per_call")
    p("   where the difference goes: the executive calls every report makes (cut path, lookup,")
    p("   alloc, address, send; a prepared report copied in), against the send and EReportError:")
    p(f"   with the drain    {fmt_ns(exe1):>10}{spread(exe1, fmt_ns)}"
      f"   x floor {fmt_ratio(ratio(exe1, flo1))}   EReportError / it {fmt_ratio(ratio(rep1, exe1))}"
      f"   goal <= 1.2x: {verdict(ratio(rep1, exe1), 1.2, True)}")
    p(f"   alone             {fmt_ns(exe0):>10}{spread(exe0, fmt_ns)}"
      f"   x floor {fmt_ratio(ratio(exe0, flo0))}   EReportError / it {fmt_ratio(ratio(rep0, exe0))}"
      f"   goal <= 1.2x: {verdict(ratio(rep0, exe0), 1.2, True)}")
    rep_p = fig.value("caller_paced/EReportError", "ns_per_call")
    flo_p = fig.value("caller_paced/floor_send", "ns_per_call")
    p("   paced alike (each call timed on its own, the floor's segment allocated just before")
    p("   its send, so the drain falls asleep between calls on both sides):")
    p(f"   EReportError {fmt_ns(rep_p):>10}{spread(rep_p, fmt_ns)}   bare send {fmt_ns(flo_p):>10}"
      f"{spread(flo_p, fmt_ns)}   ratio {fmt_ratio(ratio(rep_p, flo_p))}")
    trip = fig.value("machine/line_round_trip", "ns_per_trip")
    p(f"   one word passed to another thread and back (two cache-line transfers): {fmt_ns(trip)}")
    p("")

    # 2. Archive throughput.
    p("2. Archive rate: user errors through the running error task into the user log, against")
    p("   the fewest system calls one archive needs, done by hand batch for batch beside it")
    p("   (a batch is queued while the task is held and timed from its release until the task")
    p("   has answered a final message; the same with nothing queued, timed before every batch,")
    p("   is the round trip left out: the task's rate is the batch's reports over its time")
    p("   beyond that; the whole batches' rate is given beside it. The floor's batches run in a")
    p("   thread of their own, woken and watched alike, their own round trip left out; each")
    p("   side's thread has slept 50 us when its batch begins, both on one processor, the")
    p("   producer on another; medians of the run)")
    full = fig.value("archive/task_full_ring", "reports_per_s")
    for name, label, calls in [("archive/task_free_records", "log with free records", 8),
                               ("archive/task_full_ring", "full log, ring wraps", 10)]:
        task = fig.value(name, "task_reports_per_s")
        floor = fig.value(name, "floor_reports_per_s")
        batch = fig.value(name, "reports_per_s")
        trip = fig.value(name, "round_trip_us")
        floor_trip = fig.value(name, "floor_round_trip_us")
        r = ratio(task, floor)
        p(f"   {label:<22} task {fmt_rate(task):>10}{spread(task, fmt_rate)}"
          f"   floor ({calls} calls) {fmt_rate(floor):>10}{spread(floor, fmt_rate)}")
        p(f"   {'':<22} ratio {fmt_ratio(r)}   goal >= 0.9x: {verdict(r, 0.9, False)}"
          f"   (whole batches {fmt_rate(batch)}, ratio {fmt_ratio(ratio(batch, floor))};"
          f" round trips {fmt_ns((trip[0] * 1e3,) if trip else None)} and"
          f" {fmt_ns((floor_trip[0] * 1e3,) if floor_trip else None)})")
    p("")
    p(f"   System calls per report (strace -f -c, {strace_n} reports minus an empty run):")
    for mode, label in [("archive", "error task, stream (ring wraps after 25)"),
                        ("floor", "floor, free record"),
                        ("floor-ring", "floor, full ring"),
                        ("peer", "spdlog, flush each"),
                        ("report", "EReportError, drained"),
                        ("send", "bare send, drained")]:
        per = strace_per_report(folder, mode, strace_n)
        if per is None:
            p(f"   {label:<42} not traced"
              + (" (ptrace not permitted here)"
                 if os.path.exists(os.path.join(folder, "strace-unavailable.txt")) else ""))
            continue
        files = sum(v for k, v in per.items() if k in FILE_CALLS)
        total = sum(per.values())
        by_count = sorted(per.items(), key=lambda kv: (-kv[1], kv[0]))  # ties by name
        detail = ", ".join(f"{k} {v:.2f}" for k, v in by_count)
        p(f"   {label:<42} file calls {files:5.2f}  all {total:5.2f}  ({detail})")
    p("   (clock_nanosleep in the error-task and drained runs is the producer's own pacing,")
    p("   futex the hand-over between threads; both depend on timing, the file calls do not)")
    p("")

    # 3. Peer.
    p("3. Peer: the same stream written by spdlog (basic file sink, flush after every message)")
    for t in (1, 2):
        ours = fig.value("caller/EReportError", "ns_per_call", t)
        peer = fig.value("peer/spdlog_flush_each", "ns_per_call", t)
        p(f"   caller cost, {t} thread{'s' if t > 1 else ' '}  EReportError {fmt_ns(ours):>10}"
          f"   spdlog {fmt_ns(peer):>10}   ours/spdlog {fmt_ratio(ratio(ours, peer))}"
          f"   spdlog/ours {fmt_ratio(ratio(peer, ours))}")
    p("   spdlog's asynchronous logger (file sink, default queue of 8192, one worker; the")
    p("   caller waits untimed for fewer than 256 queued messages, as it does for ERROR_MBX):")
    for t in (1, 2):
        ours = fig.value("caller/EReportError", "ns_per_call", t)
        peer = fig.value("peer/spdlog_async", "ns_per_call", t)
        r = ratio(ours, peer)
        p(f"   caller cost, {t} thread{'s' if t > 1 else ' '}  EReportError {fmt_ns(ours):>10}"
          f"   spdlog async {fmt_ns(peer):>10}   ours/spdlog {fmt_ratio(r)}"
          f"   goal <= 1.0x: {verdict(r, 1.0, True)}")
    peer_rate = fig.value("peer/spdlog_flush_each", "calls_per_s", 1)
    p(f"   end to end, 1 thread    error task {fmt_rate(full):>10}   spdlog {fmt_rate(peer_rate):>10}"
      f"   ours/spdlog {fmt_ratio(ratio(full, peer_rate))}"
      f"   spdlog/ours {fmt_ratio(ratio(peer_rate, full))}")
    p("   ours:   fixed 15848-byte file, a ring of 25 records with an overflow marker; survives")
    p("           restarts (validated at start, a corrupt file is kept as .BAK and replaced);")
    p("           each record is written and flushed before the next report is handled; the")
    p("           caller only queues a message and never waits for the file.")
    p("   spdlog: an append-only text file that grows without bound; each message is written and")
    p("           flushed inside the caller's call; no fixed size, no overflow marker, no check")
    p("           of the file at start.")
    p("")

    # 4. Validation and export.
    p("4. Full log (25 records with the overflow record): start-up validation and export, each")
    p("   beside its floor operation for operation (figures: the median operation of a run)")
    validation = fig.value("logops/validate_full_log", "median_ns")
    read_once = fig.value("logops/validate_full_log", "floor_median_ns")
    r = ratio(validation, read_once)
    p(f"   validation (open_log_file)    {fmt_ns(validation):>10}{spread(validation, fmt_ns)}"
      f"   floor: the file read once {fmt_ns(read_once):>10}{spread(read_once, fmt_ns)}")
    p(f"   {'':<29} ratio {fmt_ratio(r)}   goal <= 2x: {verdict(r, 2.0, True)}")
    for name, label, floor_label in [
            ("logops/export_new_archive", "export into a new file", "into a new file"),
            ("logops/export_full_log", "export over the last archive", "over the last one")]:
        export = fig.value(name, "median_ns")
        floor = fig.value(name, "floor_median_ns")
        r = ratio(export, floor)
        p(f"   {label:<29} {fmt_ns(export):>10}{spread(export, fmt_ns)}"
          f"   floor: the log read once and the archive written once {floor_label}"
          f" {fmt_ns(floor):>10}{spread(floor, fmt_ns)}")
        p(f"   {'':<29} ratio {fmt_ratio(r)}   goal <= 3x: {verdict(r, 3.0, True)}")
    p("")

    # 5. Scaling.
    p("5. Caller cost by number of reporting threads (2 cores: beyond 2 threads they share them;")
    p("   the cost is the time one caller spends in one call, averaged over the threads)")
    p("   threads   EReportError   bare send   ratio")
    for t in (1, 2, 4, 8):
        ours = fig.value("caller/EReportError", "ns_per_call", t)
        flo = fig.value("caller/floor_send", "ns_per_call", t)
        p(f"   {t:>7}   {fmt_ns(ours):>12}{spread(ours, fmt_ns):<22}   {fmt_ns(flo):>9}"
          f"{spread(flo, fmt_ns):<22}   {fmt_ratio(ratio(ours, flo)):>5}")
    p("")

    # Instructions, which the load of the machine does not change.
    ir = instructions(folder, int(sys.argv[3]) if len(sys.argv) > 3 else 20000)
    if ir:
        p("Instructions per call (callgrind, both threads of the run: caller and drain)")
        rep, snd = ir.get("report"), ir.get("send")
        if rep and snd and rep.get("EReportError") and snd.get("_rtx_sendmessage"):
            p(f"   EReportError {rep['EReportError']:.0f}   bare send {snd['_rtx_sendmessage']:.0f}"
              f"   ratio {rep['EReportError'] / snd['_rtx_sendmessage']:.2f}x"
              f"   (whole run per report: {rep['total']:.0f} and {snd['total']:.0f})")
        if rep and all(fn in rep for fn in EXECUTIVE_CALLS):
            five = sum(rep[fn] for fn in EXECUTIVE_CALLS)
            p("   the five executive calls of a report: "
              + ", ".join(f"{fn} {rep[fn]:.0f}" for fn in EXECUTIVE_CALLS))
            p(f"   together {five:.0f}   goal <= 500: {verdict(five, 500, True)}"
              f"   EReportError {rep['EReportError']:.0f}   goal <= 700:"
              f" {verdict(rep['EReportError'], 700, True)}")
        p("")

    # Storms.
    storm = parse_storm(os.path.join(folder, "storm.txt"))
    p("6. Storm: reporting threads call EReportError without pause, a pool of "
      f"{storm[1]['pool'] if storm else 32} segments; reports archived by the error task")
    if not storm:
        p("   not measured")
    else:
        alone, many = storm
        r = alone["handled_per_s"] and many["handled_per_s"] / alone["handled_per_s"]
        for row, label in ((alone, "task alone (mailbox kept filled)"),
                           (many, f"{many['threads']} reporting threads")):
            p(f"   {label:<34} {fmt_rate((row['handled_per_s'],)):>10}   {row['seconds']:.1f} s"
              f"   caller p99 {row['caller_p99_us']:.1f} us, p99.9 {row['caller_p999_us']:.1f} us,"
              f" longest {row['caller_max_us']:.1f} us"
              f"   sent {row['sent']}, dropped {row['dropped']}, failed allocations"
              f" {row['failed_allocs']}, lost {row['lost']}")
        p(f"   storm / alone {fmt_ratio(r)}   goal >= 0.5x: {verdict(r, 0.5, False)}"
          f"   drops = failed allocations, nothing lost: "
          f"{'yes' if all(x['lost'] == 0 and x['dropped'] == x['failed_allocs'] for x in storm) else 'NO'}")
    p("")

    # Memory.
    small, big = max_rss_kb(folder, 10000), max_rss_kb(folder, 100000)
    p("Peak memory of a run through the error task (/usr/bin/time -v, maximum resident set)")
    if small is None or big is None:
        p("   not measured")
    else:
        grows = big > small * 1.10
        p(f"   10,000 reports {small} kB   100,000 reports {big} kB   ratio {big / small:.2f}x"
          f"   {'GROWS with the number of reports' if grows else 'does not grow with the number of reports'}")
    dropped = [r.get("dropped", 0) for reps in fig.runs.values() for r in reps]
    if any(d for d in dropped):
        p("WARNING: reports were dropped in some runs (segment pool exhausted)")
    print("\n".join(out))


if __name__ == "__main__":
    main()
