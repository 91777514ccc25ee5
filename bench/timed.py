#!/usr/bin/env python3
"""Runs a command once and prints "SECONDS PEAK_KIB": its wall time to the microsecond and the
peak resident memory of the largest process it waited for (as /usr/bin/time's %e and %M, but
fine enough for runs of a few milliseconds). The command's own output goes to /dev/null.

usage: timed.py CMD [ARG...]   (exits with the command's status)
"""
import resource
import subprocess
import sys
import time

start = time.perf_counter()
status = subprocess.call(sys.argv[1:], stdout=subprocess.DEVNULL)
elapsed = time.perf_counter() - start
peak = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss
print(f"{elapsed:.6f} {peak}")
sys.exit(status)
