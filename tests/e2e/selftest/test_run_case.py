"""Tests of run_case.py: each mismatch the runner exists to catch is caught."""
import os
import subprocess
import sys
import tempfile
import textwrap
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
RUNNER = os.path.join(HERE, "..", "run_case.py")
FAKE = os.path.join(HERE, "fake_tool.py")


def run(case_text, *options):
    with tempfile.TemporaryDirectory() as work:
        path = os.path.join(work, "sample.case")
        with open(path, "w", encoding="utf-8") as handle:
            handle.write(textwrap.dedent(case_text))
        result = subprocess.run(
            [sys.executable, RUNNER, "--wrapper", sys.executable, "--exe", FAKE, *options, path],
            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=60)
        return result.returncode, result.stdout.decode()


MATCHING = """\
    <args>
    a b
    -v
    </args>
    <scenario>
    GetIScsiVersionInformation 0
    </scenario>
    <stdout>
    a b
    -v
    GetIScsiVersionInformation 0
    </stdout>
    <exit>2</exit>
    <calllog>
    call a b
    call -v
    </calllog>
    """


class RunnerTest(unittest.TestCase):
    def assertPasses(self, case_text, *options):
        code, output = run(case_text, *options)
        self.assertEqual(0, code, output)
        self.assertIn("1 passed, 0 failed", output)

    def assertFails(self, case_text, *expected_parts, options=()):
        code, output = run(case_text, *options)
        self.assertEqual(1, code, output)
        self.assertIn("0 passed, 1 failed", output)
        for part in expected_parts:
            self.assertIn(part, output)

    def test_matching_case_passes(self):
        self.assertPasses(MATCHING)

    def test_each_mismatch_is_reported(self):
        self.assertFails(MATCHING.replace("<exit>2</exit>", "<exit>0</exit>"),
                         "exit code 2, expected 0")
        self.assertFails(MATCHING.replace("-v\n    GetIScsi", "-V\n    GetIScsi"),
                         "standard output differs", "--V$", "+-v$")
        self.assertFails(MATCHING.replace("call -v", "call -x"), "call log differs", "+call -v$")

    def test_missing_log_counts_as_empty(self):
        self.assertPasses("""\
            <stdout>
            no scenario
            </stdout>
            <exit>0</exit>
            <calllog>
            </calllog>
            """)
        self.assertFails("""\
            <stdout>
            no scenario
            </stdout>
            <exit>0</exit>
            <calllog>
            call x
            </calllog>
            """, "call log differs")

    def test_trailing_blank_and_missing_line_end(self):
        case = """\
            <args>
            tail
            </args>
            <stdout nonewline="yes">
            tail
            no scenario
            end%SP
            </stdout>
            <exit>1</exit>
            """
        self.assertPasses(case)
        self.assertFails(case.replace("end%SP", "end"), "end   (no line end)", "+end    (no line end)")
        self.assertFails(case.replace(' nonewline="yes"', ""), "standard output differs")

    def test_platform_section_replaces_the_plain_one(self):
        case = """\
            <stdout>
            linux text
            </stdout>
            <stdout.wine>
            no scenario
            </stdout.wine>
            <exit>0</exit>
            """
        self.assertPasses(case, "--platform", "wine")
        self.assertFails(case, "standard output differs")

    def test_program_stands_for_argument_zero(self):
        case = """\
            <args>
            program
            </args>
            <stdout>
            program
            no scenario
            %s
            </stdout>
            <exit>1</exit>
            """
        self.assertPasses(case % "%PROGRAM")
        self.assertFails(case % "%PROGRAM.exe", "standard output differs")

    def test_stderr_must_be_empty_unless_allowed(self):
        case = """\
            <args>
            stderr
            </args>
            <stdout>
            stderr
            no scenario
            </stdout>
            <exit>1</exit>
            """
        self.assertFails(case, "standard error is not empty", "something")
        self.assertPasses(case, "--allow-stderr")
        pad = "\n" + " " * 12
        expected = case.replace("<exit>", "<stderr>" + pad + "something" + pad + "</stderr>" + pad + "<exit>")
        self.assertPasses(expected)
        self.assertFails(expected.replace("something" + pad + "</stderr>", "other" + pad + "</stderr>"),
                         "standard error differs", "-other$", "+something$")

    def test_a_run_that_does_not_end_is_stopped(self):
        self.assertFails("""\
            <args>
            stay
            </args>
            <stdout>
            stay
            no scenario
            </stdout>
            <exit>1</exit>
            <timeout>1</timeout>
            """, "did not end within 1 s")

    def test_malformed_case(self):
        self.assertFails("<stdout>\nx\n", "has no </stdout> line")
        self.assertFails("<exit>0</exit>\n", "has no <stdout> section")
        self.assertFails("stray text\n", "expected a section")


if __name__ == "__main__":
    unittest.main()
