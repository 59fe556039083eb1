#!/usr/bin/env python3
"""A stand-in tool for the runner's own tests.

Prints each argument on a line of its own, then the scenario's first line (or
"no scenario"); writes "call ARG" for each argument to the call log.  The
argument "stay" makes it sleep long, "stderr" writes to standard error,
"program" prints the program name (argument 0) after the scenario's line, and
"tail" ends the output with a blank and no line end.  Exits with the number
of arguments.
"""
import os
import sys
import time

args = sys.argv[1:]
out = "".join(arg + "\n" for arg in args)
scenario = os.environ.get("ISCSI_STANDIN_SCENARIO")
if scenario:
    with open(scenario, encoding="utf-8") as handle:
        out += (handle.read().split("\n") + [""])[0] + "\n"
else:
    out += "no scenario\n"
if "program" in args:
    out += sys.argv[0] + "\n"
if "tail" in args:
    out += "end "
sys.stdout.write(out)
sys.stdout.flush()
log = os.environ.get("ISCSI_STANDIN_LOG")
if log and args:
    with open(log, "w", encoding="utf-8") as handle:
        handle.write("".join("call %s\n" % arg for arg in args))
if "stderr" in args:
    sys.stderr.write("something\n")
if "stay" in args:
    time.sleep(60)
sys.exit(len(args))
