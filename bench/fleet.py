#!/usr/bin/env python3
"""errlog on a fleet: `show --jsonl` and the table against `cat` of the same files.

    bench/fleet.py BIN_DIR OUT_DIR [REPETITIONS]

Generates (with BIN_DIR/err_bench_fleet, once; kept in $TMPDIR/err-fleet-N) a fleet of 500 and
one of 5,000 instrument folders (1,000 and 10,000 logs), reads each once to warm the cache, then
times, interleaved and REPETITIONS times (default 5), `cat` of every file in the fleet, `errlog
show --jsonl FLEET` and `errlog show FLEET`, each writing to /dev/null, and prints the medians,
the ratios to cat (goal: at most 2), the time per log at 10,000 logs against 1,000 (goal: at
most 1.5) and the peak memory of each errlog run at 10,000 logs (/usr/bin/time -v, goal: at most
half the input's size). bench/run calls it; the figures land in OUT_DIR/fleet.txt.
"""
import os
import re
import statistics
import subprocess
import sys
import tempfile
import time

FLEETS = [(500, 1000), (5000, 10000)]  # instrument folders, logs


def fleet_dir(bin_dir, folders):
    """The generated fleet of folders instruments, made once (its summary line marks it done;
    a newer generator makes it again)."""
    root = os.path.join(os.environ.get("TMPDIR", tempfile.gettempdir()), f"err-fleet-{folders}")
    done = root + ".summary"
    generator = os.path.join(bin_dir, "err_bench_fleet")
    if not os.path.exists(done) or os.path.getmtime(done) < os.path.getmtime(generator):
        subprocess.run(["rm", "-rf", root], check=True)
        summary = subprocess.run([generator, root, str(folders)],
                                 check=True, capture_output=True, text=True).stdout
        with open(done, "w") as f:
            f.write(summary)
    with open(done) as f:
        return root, f.read().strip()


def files_of(root):
    out = []
    for folder, _, names in os.walk(root):
        out.extend(os.path.join(folder, n) for n in names)
    return sorted(out)


def timed(argv):
    start = time.perf_counter()
    subprocess.run(argv, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return time.perf_counter() - start


def peak_kb(argv, report):
    subprocess.run(["/usr/bin/time", "-v", "-o", report] + argv, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)
    with open(report) as f:
        return int(re.search(r"Maximum resident set size \(kbytes\): (\d+)", f.read()).group(1))


def main():
    bin_dir, out_dir = sys.argv[1], sys.argv[2]
    reps = int(sys.argv[3]) if len(sys.argv) > 3 else 5
    errlog = os.path.join(bin_dir, "errlog")
    lines = []
    results = {}
    for folders, logs in FLEETS:
        root, summary = fleet_dir(bin_dir, folders)
        files = files_of(root)
        size = sum(os.path.getsize(f) for f in files)
        commands = {
            "cat": ["cat"] + files,
            "show --jsonl": [errlog, "show", "--jsonl", root],
            "show (table)": [errlog, "show", root],
        }
        for argv in commands.values():  # warm the cache, and the programs
            timed(argv)
        times = {name: [] for name in commands}
        for _ in range(reps):
            for name, argv in commands.items():
                times[name].append(timed(argv))
        medians = {name: statistics.median(t) for name, t in times.items()}
        peaks = {}
        if logs == FLEETS[-1][1] and os.access("/usr/bin/time", os.X_OK):
            for name in ("show --jsonl", "show (table)"):
                report = os.path.join(out_dir, "time-fleet-" + name.split()[1].strip("()-") + ".txt")
                peaks[name] = peak_kb(commands[name], report)
        results[logs] = (medians, times, size, peaks)
        lines.append(f"fleet of {logs:,} logs: {summary}")

    lines.append(f"medians of {reps} runs, warm cache, output to /dev/null; seconds (spread)")
    head = f"{'':<14}" + "".join(f"{f'{logs:,} logs':>36}" for _, logs in FLEETS)
    lines.append(head)
    for name in ("cat", "show --jsonl", "show (table)"):
        row = f"{name:<14}"
        for _, logs in FLEETS:
            medians, times, _, _ = results[logs]
            ratio = "" if name == "cat" else f" {medians[name] / medians['cat']:.2f}x cat"
            cell = f"{medians[name]:.3f} ({min(times[name]):.3f}-{max(times[name]):.3f}){ratio}"
            row += f"{cell:>36}"
        lines.append(row)
    small, large = FLEETS[0][1], FLEETS[-1][1]
    lines.append("goal: each errlog run at most 2x cat of the same files")
    for name in ("show --jsonl", "show (table)"):
        per_small = results[small][0][name] / small
        per_large = results[large][0][name] / large
        lines.append(f"{name}: time per log at {large:,} logs {per_large * 1e6:.1f} us, at "
                     f"{small:,} {per_small * 1e6:.1f} us: {per_large / per_small:.2f}x (goal: at most 1.5x)")
    _, _, size, peaks = results[large]
    for name, kb in peaks.items():
        lines.append(f"{name}: peak memory {kb / 1024:.1f} MB for {size / 1e6:.1f} MB of input "
                     f"({kb * 1024 / size:.2f} of it; goal: at most 0.5)")
    text = "\n".join(lines)
    print(text)
    with open(os.path.join(out_dir, "fleet.txt"), "w") as f:
        f.write(text + "\n")


if __name__ == "__main__":
    main()
