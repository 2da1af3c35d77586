#!/usr/bin/env python3
"""Runs the runner once and measures it: CPU time of the runner and every
program it ran (user and system, from the runner's rusage once it is
reaped, which includes its reaped children), the peak of the summed VmRSS of
the runner and its descendants (sampled from /proc every 20 ms), and the
wall time. Standard output and error go to OUT_DIR/stdout and
OUT_DIR/stderr, each line preceded by its arrival time, so that the cycles
can be told apart. The runner is killed after LIMIT seconds.

Writes OUT_DIR/run.json. Usage: run_runner.py OUT_DIR LIMIT RUNNER [ARG ...]
"""
import json
import os
import signal
import subprocess
import sys
import threading
import time

SAMPLE_SECONDS = 0.02


def stamp(stream, path):
    with open(path, "w", encoding="utf-8", errors="replace") as f:
        for line in iter(stream.readline, b""):
            f.write(f"{time.time():.6f} {line.decode('utf-8', 'replace')}")


def children_map():
    """Parent pid to child pids, for every process visible now."""
    kids = {}
    for name in os.listdir("/proc"):
        if not name.isdigit():
            continue
        try:
            with open(f"/proc/{name}/stat", encoding="ascii", errors="replace") as f:
                ppid = int(f.read().rsplit(")", 1)[1].split()[1])
        except (OSError, IndexError, ValueError):
            continue
        kids.setdefault(ppid, []).append(int(name))
    return kids


def rss_kib(pid):
    try:
        with open(f"/proc/{pid}/status", encoding="ascii", errors="replace") as f:
            for line in f:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return 0


def tree_rss(root):
    kids = children_map()
    total, count, todo = 0, 0, [root]
    while todo:
        pid = todo.pop()
        total += rss_kib(pid)
        count += 1
        todo.extend(kids.get(pid, []))
    return total, count


def main(out_dir, limit, *command):
    start = time.time()
    proc = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    readers = [threading.Thread(target=stamp, args=(proc.stdout, os.path.join(out_dir, "stdout"))),
               threading.Thread(target=stamp, args=(proc.stderr, os.path.join(out_dir, "stderr")))]
    for r in readers:
        r.start()
    peak, peak_procs, samples, killed = 0, 0, 0, False
    while True:
        pid, status, usage = os.wait4(proc.pid, os.WNOHANG)
        if pid:
            break
        rss, procs = tree_rss(proc.pid)
        samples += 1
        if rss > peak:
            peak, peak_procs = rss, procs
        if time.time() - start > float(limit) and not killed:
            proc.send_signal(signal.SIGKILL)
            killed = True
        time.sleep(SAMPLE_SECONDS)
    wall = time.time() - start
    proc.returncode = os.waitstatus_to_exitcode(status)
    for r in readers:
        r.join(10)
    result = {"exit": proc.returncode, "killed": killed, "wall": wall, "start": start,
              "user": usage.ru_utime, "sys": usage.ru_stime, "peak_rss_kib": peak,
              "processes_at_peak": peak_procs, "samples": samples}
    with open(os.path.join(out_dir, "run.json"), "w", encoding="utf-8") as f:
        json.dump(result, f, indent=1)


if __name__ == "__main__":
    if len(sys.argv) < 4:
        sys.exit(__doc__.rsplit("\n\n", 1)[-1].strip())
    main(*sys.argv[1:])
