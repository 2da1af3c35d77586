#!/usr/bin/env python3
"""Prints the figures of one measure-https run from its work folder: per
cycle and in total the requests nginx logged, the TCP connections opened and
the bytes each way through the relay; CPU and peak memory of the runner's
process tree; compression asked for and given; TLS handshakes and how many
resumed a session; and the has_connection and
has_data flags of the last cycle. Cycles start at the runner's "Updating data
from webservices" log lines.

Usage: report.py WORK CYCLES
"""
import json
import os
import re
import sys

SYMBOL = re.compile(r"^(\d+\.\d+) (\S+) = (.*)$")


def lines(path):
    with open(path, encoding="utf-8", errors="replace") as f:
        return f.read().splitlines()


def cycle_of(t, starts):
    """Index of the cycle running at time t; -1 before the first."""
    index = -1
    for i, start in enumerate(starts):
        if t >= start:
            index = i
    return index


def main(work, cycles):
    cycles = int(cycles)
    run = json.load(open(os.path.join(work, "run/run.json"), encoding="utf-8"))
    relay = json.load(open(os.path.join(work, "relay/summary.json"), encoding="utf-8"))
    starts = [float(line.split()[0]) for line in lines(os.path.join(work, "run/stderr"))
              if "Updating data from webservices" in line]
    if len(starts) != cycles:
        print(f"report: {len(starts)} cycle starts logged, {cycles} asked for")
    n = max(len(starts), 1)
    requests, conns = [0] * n, [0] * n
    up, down = [0] * n, [0] * n
    asked = gzipped = handshakes = resumed = 0
    protocols = set()
    failed = {}
    access = lines(os.path.join(work, "nginx/access.log"))
    for line in access:
        fields = line.split()
        t, uri, status = float(fields[0]), fields[4], fields[5]
        requests[max(cycle_of(t, starts), 0)] += 1
        encodings = re.findall(r'"([^"]*)"', line)
        asked += "gzip" in encodings[0]
        gzipped += encodings[1] == "gzip"
        if fields[2] == "1":  # the connection's first request: its handshake
            handshakes += 1
            resumed += fields[-1] == "r"
            protocols.add(fields[-2])
        if not status.startswith("2"):
            failed[f"{status} {uri}"] = failed.get(f"{status} {uri}", 0) + 1
    for line in lines(os.path.join(work, "relay/connections.jsonl")):
        conns[max(cycle_of(json.loads(line)["opened"], starts), 0)] += 1
    for t, u, d in relay["buckets"]:
        i = max(cycle_of(t + relay["bucket_seconds"] / 2, starts), 0)
        up[i] += u
        down[i] += d

    print(f"{'cycle':>6} {'requests':>9} {'new conns':>10} {'bytes up':>10} {'bytes down':>11}")
    for i in range(n):
        print(f"{i + 1:>6} {requests[i]:>9} {conns[i]:>10} {up[i]:>10} {down[i]:>11}")
    print(f"{'total':>6} {len(access):>9} {relay['connections']:>10} {relay['up']:>10} {relay['down']:>11}")
    if relay["still_open"]:
        print(f"relay: {relay['still_open']} connections still open at the end, counted as far as they got")
    cpu = run["user"] + run["sys"]
    print(f"per cycle: {len(access) / cycles:.1f} requests, {relay['connections'] / cycles:.1f} connections, "
          f"{(relay['up'] + relay['down']) / cycles / 1024:.1f} KiB on the link")
    print(f"CPU, runner and children: {cpu:.3f} s (user {run['user']:.3f}, sys {run['sys']:.3f}), "
          f"{cpu / cycles * 1000:.0f} ms per cycle, {cpu / max(len(access), 1) * 1000:.1f} ms per request")
    print(f"process tree peak RSS: {run['peak_rss_kib'] / 1024:.1f} MiB ({run['processes_at_peak']} processes), "
          f"wall {run['wall']:.2f} s, exit {run['exit']}{' (killed)' if run['killed'] else ''}")
    print(f"compression: {asked} of {len(access)} requests asked for gzip, {gzipped} replies gzip")
    print(f"TLS: {handshakes} handshakes ({', '.join(sorted(protocols))}), {resumed} of them resumed a session")
    if failed:
        print("replies other than 2xx: " + ", ".join(f"{k} x{v}" for k, v in sorted(failed.items())))

    last = {}
    for line in lines(os.path.join(work, "run/stdout")):
        match = SYMBOL.match(line)
        if match and starts and float(match.group(1)) >= starts[-1]:
            last[match.group(2)] = match.group(3)
    flags = {k: v for k, v in last.items() if k.endswith(("_has_connection", "_has_data"))}
    bad = sorted(f"{k}={v}" for k, v in flags.items() if v != "1")
    print(f"last cycle: {len(flags)} has_connection/has_data flags, "
          f"{'all 1' if not bad else 'not 1: ' + ', '.join(bad)}")
    stale = sorted(k[:-len("_updated_at")] for k, v in last.items()
                   if k.endswith("_updated_at") and (not v.isdigit() or int(v) < int(starts[-1])))
    if stale:
        print("last cycle, data fetched before it (to the second): " + ", ".join(stale))


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__.rsplit("\n\n", 1)[-1].strip())
    main(*sys.argv[1:])
