"""Small shared pieces of the Wine test scripts: running a command and
keeping count of the checks."""
import os
import signal
import subprocess
import sys

results = {"passed": 0, "failed": 0}


def run(command, env=None, timeout=60):
    """Runs command (a list) with no input in a process group of its own;
    returns (stdout bytes, exit code).  A run still going after timeout
    seconds is stopped, group and all, and gets the exit code None."""
    process = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                               env=env, start_new_session=True)
    try:
        stdout, _ = process.communicate(timeout=timeout)
        return stdout, process.returncode
    except subprocess.TimeoutExpired:
        os.killpg(process.pid, signal.SIGKILL)
        stdout, _ = process.communicate()
        return stdout, None


def check(name, ok, detail=""):
    """Counts one check and prints its outcome, with detail when it failed."""
    if ok:
        results["passed"] += 1
        print("ok   %s" % name)
    else:
        results["failed"] += 1
        print("FAIL %s" % name)
        if detail:
            print("     " + detail.replace("\n", "\n     "))
    sys.stdout.flush()


def finish(title):
    """Prints the closing line; returns the exit code for the script."""
    print("%s: %d passed, %d failed" % (title, results["passed"], results["failed"]))
    return 0 if results["failed"] == 0 and results["passed"] > 0 else 1
