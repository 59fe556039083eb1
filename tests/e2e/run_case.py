#!/usr/bin/env python3
"""Runs end-to-end cases against a real tool executable (format: README.md).

    run_case.py --exe PATH [--wrapper CMD] [--platform NAME] [--windows-paths]
                [--timeout SECONDS] [--allow-stderr] CASE...

Each case runs the executable (behind the wrapper, when one is given) with the
case's arguments and scenario, and compares its whole standard output, its
exit code, its standard error (empty unless --allow-stderr) and, when the case
gives one, its whole call log.  Prints one line per case and a diff for each
mismatch; the exit code is 0 only when every case passed.
"""
import argparse
import difflib
import os
import re
import shlex
import signal
import subprocess
import sys
import tempfile

DEFAULT_TIMEOUT = 30.0
SUBSTITUTIONS = {"%SP": " ", "%TAB": "\t", "%CR": "\r"}
KNOWN_SECTIONS = {"name", "args", "scenario", "stdout", "stderr", "exit", "calllog", "timeout",
                  "env"}
OPEN_TAG = re.compile(r"^<([a-z]+)((?:\.[a-z0-9_-]+)?)((?:\s+[a-z]+=\"[^\"]*\")*)\s*>$")
ONE_LINE = re.compile(r"^<([a-z]+)((?:\.[a-z0-9_-]+)?)>(.*)</\1\2>$")
ATTRIBUTE = re.compile(r"([a-z]+)=\"([^\"]*)\"")


class CaseError(Exception):
    """A case file that does not follow the format."""


def substitute(text):
    return re.sub(r"%SP|%TAB|%CR", lambda match: SUBSTITUTIONS[match.group(0)], text)


def parse_case(text):
    """Returns {section name (with .platform): (attributes, [lines])}."""
    sections = {}
    lines = text.split("\n")
    if lines and lines[-1] == "":
        lines.pop()
    at = 0
    while at < len(lines):
        line = lines[at]
        at += 1
        if not line.strip() or line.startswith("#"):
            continue
        single = ONE_LINE.match(line)
        if single:
            name, platform, value = single.groups()
            key = name + platform
            if name not in KNOWN_SECTIONS or key in sections:
                raise CaseError("line %d: unknown or repeated section <%s>" % (at, key))
            sections[key] = ({}, [value])
            continue
        opened = OPEN_TAG.match(line)
        if not opened:
            raise CaseError("line %d: expected a section, found %r" % (at, line))
        name, platform, attributes = opened.groups()
        key = name + platform
        if name not in KNOWN_SECTIONS or key in sections:
            raise CaseError("line %d: unknown or repeated section <%s>" % (at, key))
        body = []
        closing = "</%s>" % key
        while at < len(lines) and lines[at] != closing:
            body.append(lines[at])
            at += 1
        if at == len(lines):
            raise CaseError("section <%s> has no %s line" % (key, closing))
        at += 1
        sections[key] = (dict(ATTRIBUTE.findall(attributes)), body)
    for required in ("stdout", "exit"):
        if required not in sections:
            raise CaseError("the case has no <%s> section" % required)
    return sections


def pick(sections, name, platform):
    """The platform's own section where the case has one, else the plain one."""
    if platform and (name + "." + platform) in sections:
        return sections[name + "." + platform]
    return sections.get(name)


def section_text(section, substitutions, program=None):
    """The bytes a section stands for: its lines, each ended by a line break,
    the last one without it when nonewline="yes"; with program, "%PROGRAM"
    stands for it."""
    attributes, body = section
    text = "".join(line + "\n" for line in body)
    if attributes.get("nonewline") == "yes" and text.endswith("\n"):
        text = text[:-1]
    if substitutions:
        text = substitute(text)
    if program is not None:
        text = text.replace("%PROGRAM", program)
    return text.encode("utf-8")


def visible_lines(data):
    """Lines for a diff: '$' marks each line end, so trailing blanks show."""
    text = data.decode("utf-8", errors="backslashreplace")
    lines = text.split("\n")
    shown = [line.replace("\r", "\\r") + "$" for line in lines[:-1]]
    if lines[-1]:
        shown.append(lines[-1].replace("\r", "\\r") + "   (no line end)")
    return shown


def diff(label, expected, actual):
    return "\n".join(difflib.unified_diff(visible_lines(expected), visible_lines(actual),
                                          "expected " + label, "actual " + label, lineterm=""))


def host_path(path, windows_paths):
    """The path as the executable sees it: Wine's Z: drive maps the host's /."""
    if not windows_paths:
        return path
    return "Z:" + path.replace("/", "\\")


def run_process(command, env, timeout):
    """Runs command in a process group of its own; on timeout ends that group.
    Returns (exit code or None after a timeout, stdout, stderr)."""
    process = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE, env=env, start_new_session=True)
    try:
        stdout, stderr = process.communicate(timeout=timeout)
        return process.returncode, stdout, stderr
    except subprocess.TimeoutExpired:
        os.killpg(process.pid, signal.SIGKILL)
        stdout, stderr = process.communicate()
        return None, stdout, stderr


def run_case(path, options):
    """Runs one case; returns a list of mismatch reports (empty: passed)."""
    with open(path, encoding="utf-8") as handle:
        sections = parse_case(handle.read())
    platform = options.platform
    args_section = pick(sections, "args", platform)
    arguments = [substitute(line) for line in args_section[1]] if args_section else []
    expected_exit = int(pick(sections, "exit", platform)[1][0].strip())
    timeout_section = pick(sections, "timeout", platform)
    timeout = float(timeout_section[1][0]) if timeout_section else options.timeout

    with tempfile.TemporaryDirectory(prefix="e2e-") as work:
        env = dict(os.environ)
        for variable in ("ISCSI_STANDIN_SCENARIO", "ISCSI_STANDIN_LOG"):
            env.pop(variable, None)
        env_section = pick(sections, "env", platform)
        for line in env_section[1] if env_section else []:
            name, _, value = line.partition("=")
            env[name] = value
        scenario = pick(sections, "scenario", platform)
        scenario_path = os.path.join(work, "scenario.txt")
        if scenario is not None:
            with open(scenario_path, "wb") as handle:
                handle.write(section_text(scenario, False))
            env["ISCSI_STANDIN_SCENARIO"] = host_path(scenario_path, options.windows_paths)
        log_path = os.path.join(work, "calls.log")
        env["ISCSI_STANDIN_LOG"] = host_path(log_path, options.windows_paths)

        command = shlex.split(options.wrapper) + [options.exe] + arguments
        code, stdout, stderr = run_process(command, env, timeout)
        log = b""
        if os.path.exists(log_path):
            with open(log_path, "rb") as handle:
                log = handle.read()
        # The temporary paths differ from run to run.
        for path, mark in ((scenario_path, b"%SCENARIO"), (log_path, b"%CALLLOG")):
            stderr = stderr.replace(host_path(path, options.windows_paths).encode(), mark)

    problems = []
    if code is None:
        problems.append("the run did not end within %g s and was stopped" % timeout)
    elif code != expected_exit:
        problems.append("exit code %d, expected %d" % (code, expected_exit))
    # The program name as the tool gets it in argument 0: Wine hands a
    # Windows program the full path on its Z: drive.
    program = options.exe
    if options.windows_paths:
        program = host_path(os.path.abspath(options.exe), True)
    expected_stdout = section_text(pick(sections, "stdout", platform), True, program)
    if stdout != expected_stdout:
        problems.append("standard output differs:\n" + diff("stdout", expected_stdout, stdout))
    expected_stderr = pick(sections, "stderr", platform)
    if expected_stderr is not None:
        expected_stderr = section_text(expected_stderr, True, program)
        if stderr != expected_stderr:
            problems.append("standard error differs:\n" + diff("stderr", expected_stderr, stderr))
    elif stderr and not options.allow_stderr:
        problems.append("standard error is not empty:\n"
                        + stderr.decode("utf-8", errors="backslashreplace"))
    expected_log = pick(sections, "calllog", platform)
    if expected_log is not None:
        expected_log = section_text(expected_log, False)
        if log != expected_log:
            problems.append("call log differs:\n" + diff("calls", expected_log, log))
    return problems


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--exe", required=True, help="the tool executable")
    parser.add_argument("--wrapper", default="", help="command to run it with, e.g. 'wine'")
    parser.add_argument("--platform", default="", help="use <section.PLATFORM> where given")
    parser.add_argument("--windows-paths", action="store_true",
                        help="pass scenario and log paths as Z:\\... paths (Wine)")
    parser.add_argument("--timeout", type=float, default=DEFAULT_TIMEOUT,
                        help="seconds a case may run (default %(default)s)")
    parser.add_argument("--allow-stderr", action="store_true",
                        help="do not require an empty standard error")
    parser.add_argument("cases", nargs="+")
    options = parser.parse_args(argv)

    failed = 0
    for path in options.cases:
        name = os.path.basename(path)
        try:
            problems = run_case(path, options)
        except (CaseError, OSError, ValueError, IndexError) as error:
            problems = ["cannot run the case: %s" % error]
        if problems:
            failed += 1
            print("FAIL %s" % name)
            for problem in problems:
                print("  " + problem.replace("\n", "\n  "))
        else:
            print("ok   %s" % name)
    print("%d passed, %d failed" % (len(options.cases) - failed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
