#!/usr/bin/env python3
"""Measures how many deliberate faults the test suite catches.

Applies each fault of tools/mutations.txt alone to the source tree, builds,
runs the suite, and puts the file back. A fault is caught when the suite
fails. Run from the repository root:

    tools/mutation_check.py [--build DIR] [--only N,...] [--table FILE]

Exits 0 when every fault applied and built, whatever the count caught.
"""

import argparse
import os
import re
import signal
import subprocess
import sys
import time


def parse_table(path):
    """The faults of the table, as dicts: number, file, why, original, replacement."""
    faults = []
    fault = None
    with open(path, encoding="utf-8") as table:
        for number, line in enumerate(table.read().splitlines(), 1):
            if line.startswith("=== "):
                fault = {"number": int(line[4:]), "file": None, "why": "", "-": [], "+": []}
                faults.append(fault)
            elif line[:1] in ("-", "+") and fault is not None:
                text = line[1:]
                fault[line[0]].append(text[1:] if text.startswith(" ") else text)
            elif line.startswith("file:") and fault is not None:
                fault["file"] = line[5:].strip()
            elif line.startswith("why:") and fault is not None:
                fault["why"] = line[4:].strip()
            elif line.strip() and not line.startswith("#"):
                sys.exit(f"{path}:{number}: cannot read this line: {line!r}")
    for fault in faults:
        if not fault["file"] or not fault["-"]:
            sys.exit(f"{path}: fault {fault['number']} lacks its file or its original lines")
        fault["original"] = "\n".join(fault.pop("-"))
        fault["replacement"] = "\n".join(fault.pop("+"))
    return faults


def run(command, log):
    """Runs `command` with its output appended to `log`; its output and return code."""
    result = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                            encoding="utf-8", errors="replace")
    with open(log, "a", encoding="utf-8") as out:
        out.write(f"$ {' '.join(command)}\n{result.stdout}\n")
    return result.returncode, result.stdout


def build(directory, log):
    return run(["cmake", "--build", directory, "-j2"], log)[0] == 0


def run_suite(directory, log, options):
    """True when the suite passes; else False and the first test that did not."""
    command = ["ctest", "--test-dir", directory, "-j2", "--timeout", "180", "--output-on-failure"]
    code, output = run(command + options, log)
    # The first test to fail as it ends, and its reason from the summary.
    failed = re.search(r"Test\s+#\d+: (\S+) [^\n]*\*\*\*", output)
    if not failed:
        return code == 0, "?"
    reason = re.search(rf"\d+ - {re.escape(failed.group(1))} \((.*)\)", output)
    return code == 0, failed.group(1) + (f" ({reason.group(1)})" if reason else "")


def judge(directory, log, options):
    """Whether the suite fails, the test that failed, and the flaky tests met.

    A failure counts only when a failed test fails again on its own; when
    they all pass then, they are flaky (timing tests on a loaded machine),
    and the suite runs once more.
    """
    flaky = []
    for _ in range(2):
        passed, first = run_suite(directory, log, options)
        if passed:
            return False, "", flaky
        passed, again = run_suite(directory, log, ["--rerun-failed"])
        if not passed:
            return True, again, flaky
        flaky.append(first)
    return False, "", flaky


def interrupted(signum, frame):
    raise KeyboardInterrupt


def restore(path, text):
    """Puts the file back, untouched by a second Ctrl-C or SIGTERM meanwhile."""
    previous = {s: signal.signal(s, signal.SIG_IGN) for s in (signal.SIGINT, signal.SIGTERM)}
    with open(path, "w", encoding="utf-8") as source:
        source.write(text)
    os.utime(path)  # newer than the mutated build, so the next build recompiles it
    for number, handler in previous.items():
        signal.signal(number, handler)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build", default="build-mutation", help="build directory")
    parser.add_argument("--only", help="comma-separated fault numbers to run")
    parser.add_argument("--table", default="tools/mutations.txt", help="the faults")
    args = parser.parse_args()
    signal.signal(signal.SIGTERM, interrupted)

    faults = parse_table(args.table)
    if args.only:
        wanted = {int(n) for n in args.only.split(",")}
        faults = [f for f in faults if f["number"] in wanted]
    log = os.path.abspath(os.path.join(args.build, "mutation_check.log"))
    os.makedirs(args.build, exist_ok=True)
    open(log, "w").close()

    if not os.path.exists(os.path.join(args.build, "CMakeCache.txt")):
        configure = ["cmake", "-S", ".", "-B", args.build, "-DCMAKE_BUILD_TYPE=RelWithDebInfo"]
        if run(configure, log)[0] != 0:
            sys.exit(f"configuring {args.build} failed; see {log}")
    started = time.monotonic()
    if not build(args.build, log):
        sys.exit(f"the unchanged tree does not build; see {log}")
    failed, first, flaky = judge(args.build, log, [])
    if failed:
        sys.exit(f"the suite fails on the unchanged tree ({first}); see {log}")
    print(f"unchanged tree: built, suite passes ({time.monotonic() - started:.0f} s)"
          + (f"; flaky: {', '.join(flaky)}" if flaky else ""), flush=True)

    caught = counted = errors = 0
    for fault in faults:
        path = fault["file"]
        label = f"{fault['number']:3}  {path:32}"
        with open(path, encoding="utf-8") as source:
            original = source.read()
        occurrences = original.count(fault["original"])
        if occurrences != 1:
            print(f"{label} ERROR: the original occurs {occurrences} times  {fault['why']}")
            errors += 1
            continue
        with open(log, "a", encoding="utf-8") as out:
            out.write(f"\n=== fault {fault['number']}: {path}: {fault['why']}\n")
        started = time.monotonic()
        try:
            with open(path, "w", encoding="utf-8") as source:
                source.write(original.replace(fault["original"], fault["replacement"]))
            note = ""
            if not build(args.build, log):
                verdict, errors = "ERROR: does not build;", errors + 1
            else:
                failed, first, flaky = judge(args.build, log, ["--stop-on-failure"])
                counted += 1
                caught += failed
                verdict, note = ("caught", f"  [{first}]") if failed else ("missed", "")
                if flaky:
                    note += f"  (flaky, passed alone: {', '.join(flaky)})"
        finally:
            restore(path, original)
        seconds = time.monotonic() - started
        print(f"{label} {verdict} {seconds:4.0f} s  {fault['why']}{note}", flush=True)

    print(f"caught {caught} of {counted}" + (f" ({errors} faults in error)" if errors else ""))
    return 1 if errors else 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except KeyboardInterrupt:
        sys.exit("interrupted; the source files are restored")
