"""Compiler launcher: runs one compile or link command and appends its peak memory to a log.

Used as CMAKE_CXX_COMPILER_LAUNCHER / CMAKE_CXX_LINKER_LAUNCHER by scripts/bench.sh:
    python compile_rss.py LOG COMMAND...
Each line of LOG: peak resident memory in KiB, wall seconds, and the command's output file.
"""

import os
import resource
import subprocess
import sys
import time


def output_of(command):
    for i, arg in enumerate(command[:-1]):
        if arg == "-o":
            return command[i + 1]
    return command[-1] if command else "?"


def main():
    log, command = sys.argv[1], sys.argv[2:]
    start = time.perf_counter()
    code = subprocess.call(command)
    seconds = time.perf_counter() - start
    # The children of this launcher are the compiler driver and the processes it started
    # (cc1plus, as, ld); ru_maxrss is the largest of them.
    peak_kib = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss
    with open(log, "a", encoding="utf-8") as f:
        f.write("%d %.3f %s\n" % (peak_kib, seconds, os.path.relpath(output_of(command))))
    return code


if __name__ == "__main__":
    sys.exit(main())
