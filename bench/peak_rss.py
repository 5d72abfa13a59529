#!/usr/bin/env python3
"""Runs a command and reports its peak resident memory, leaving out one file's
mappings (the archive that the program maps whole).

Usage: peak_rss.py EXCLUDED_FILE COMMAND [ARG...]

Samples /proc/PID/smaps every INTERVAL seconds from the moment the command's
own program is running (not the forked interpreter before exec), sums Rss over
every mapping except those of EXCLUDED_FILE, and prints two numbers in MiB:
the peak of that sum and the peak Rss of the excluded file's mappings.
Exits with the command's exit status, or 1 if it ended unsampled.
"""

import os
import subprocess
import sys
import time

INTERVAL = 0.002


def sample(pid, excluded):
    """(Rss counted, Rss of the excluded file) in kB, or None once it is gone."""
    counted = excluded_rss = 0
    path = ""
    try:
        with open(f"/proc/{pid}/smaps") as smaps:
            for line in smaps:
                fields = line.split()
                if not fields:
                    continue
                if not fields[0].endswith(":"):  # a mapping's header line
                    path = " ".join(fields[5:])
                elif fields[0] == "Rss:":
                    if path == excluded:
                        excluded_rss += int(fields[1])
                    else:
                        counted += int(fields[1])
    except (FileNotFoundError, ProcessLookupError):
        return None
    return counted, excluded_rss


def running_program(pid):
    try:
        return os.readlink(f"/proc/{pid}/exe")
    except OSError:
        return None


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    excluded = os.path.realpath(sys.argv[1])
    command = sys.argv[2:]
    program = os.path.realpath(command[0])

    child = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL)
    peak = peak_excluded = samples = 0
    while child.poll() is None:
        if running_program(child.pid) == program:
            result = sample(child.pid, excluded)
            if result:
                peak = max(peak, result[0])
                peak_excluded = max(peak_excluded, result[1])
                samples += 1
        time.sleep(INTERVAL)
    print(f"{peak / 1024:.2f} {peak_excluded / 1024:.2f}")
    if samples == 0 and child.returncode == 0:
        sys.exit("peak_rss.py: the command ended before it could be sampled")
    sys.exit(child.returncode)


if __name__ == "__main__":
    main()
