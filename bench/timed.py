#!/usr/bin/env python3
"""Runs a command once and prints "SECONDS PEAK_KIB": its wall time to the microsecond and the
peak resident memory of the largest process of the command's tree. The command's own output goes
to /dev/null.

The peak is read from each process's own high-water mark (VmHWM in /proc), polled while the
command runs, not from getrusage: a child's rusage peak starts at the size of the process it was
forked from (this Python, some 14 MiB), which would hide any program smaller than that. The last
look comes at most one poll before a process ends; a download's memory is in place long before.

usage: timed.py CMD [ARG...]   (exits with the command's status)
"""
import os
import subprocess
import sys
import threading
import time

POLL_SECONDS = 0.005


def children(pid):
    found = []
    try:
        for task in os.listdir(f"/proc/{pid}/task"):
            with open(f"/proc/{pid}/task/{task}/children") as listed:
                found += [int(child) for child in listed.read().split()]
    except OSError:
        pass
    return found


def high_water_kib(pid):
    try:
        with open(f"/proc/{pid}/status") as status:
            for line in status:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1])
    except (OSError, ValueError):
        pass
    return 0


def tree(pid):
    pids, at = [pid], 0
    while at < len(pids):
        pids += children(pids[at])
        at += 1
    return pids


def sample(pid, peaks, done):
    while not done.is_set():
        for member in tree(pid):
            peaks[member] = max(peaks.get(member, 0), high_water_kib(member))
        done.wait(POLL_SECONDS)


start = time.perf_counter()
process = subprocess.Popen(sys.argv[1:], stdout=subprocess.DEVNULL)
peaks, done = {}, threading.Event()
sampler = threading.Thread(target=sample, args=(process.pid, peaks, done))
sampler.start()
status = process.wait()
elapsed = time.perf_counter() - start
done.set()
sampler.join()
print(f"{elapsed:.6f} {max(peaks.values(), default=0)}")
sys.exit(status)
