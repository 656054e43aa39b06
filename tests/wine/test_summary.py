"""scripts/test's summary, on JUnit files made here: what makes it fail."""

import os
import subprocess

import pytest

from release import write
from winetools import ROOT

SUMMARY = os.path.join(ROOT, "scripts", "test-summary")


def case(name, failure="", skip=None):
    """A pytest JUnit test case: passed, or with failure (its element) or a
    skip for that reason."""
    inner = failure if skip is None else f'<skipped type="pytest.skip" message="{skip}"/>'
    return f'<testcase classname="t" name="{name}">{inner}</testcase>'


FAILURE, ERROR = '<failure message="assert 0"/>', '<error message="fixture"/>'


def summarise(folder, cases, ctest_status="run", exit_status=0):
    """Runs the summary on one suite whose one ctest test ran pytest with
    these cases: its exit status and output."""
    build = os.path.join(folder, "build")
    os.makedirs(build, exist_ok=True)
    write(os.path.join(build, "ctest-junit.xml"),
          f'<testsuite><testcase name="wine_suite" status="{ctest_status}"/></testsuite>')
    write(os.path.join(build, "pytest-wine_suite.xml"),
          f'<testsuites><testsuite>{"".join(cases)}</testsuite></testsuites>')
    table = write(os.path.join(folder, "summary.tsv"), f"suite\twine32\t{build}\t{exit_status}\n")
    done = subprocess.run(["/usr/bin/python3", SUMMARY, table], capture_output=True, text=True)
    return done.returncode, done.stdout


def kernel_refusal():
    probe = subprocess.run([os.path.join(ROOT, "scripts", "kernel-runs-i386")],
                           capture_output=True, text=True)
    return probe.stderr.strip() if probe.returncode == 1 else None


@pytest.mark.parametrize("cases,ctest_status,exit_status,status", [
    ([case("a"), case("b")], "run", 0, 0),
    ([case("a"), case("b", FAILURE)], "fail", 8, 1),
    ([case("a"), case("b", ERROR)], "fail", 8, 1),
    # pytest itself failed (a crash, a time-out) with every case it wrote passed
    ([case("a")], "fail", 8, 1),
    # a skip for any reason but the kernel's refusal
    ([case("a"), case("b", skip="no display")], "run", 0, 1),
], ids=["passed", "failed", "error", "pytest-failed", "skipped-otherwise"])
def test_the_summary_fails_on_a_failure_or_a_skip_it_does_not_allow(tmp_path, cases, ctest_status,
                                                                     exit_status, status):
    assert summarise(str(tmp_path), cases, ctest_status, exit_status)[0] == status


def test_the_summary_allows_only_the_kernels_refusal_and_says_so(tmp_path):
    # The probe's own words, as the Wine fixture gives them as its reason.
    reason = kernel_refusal() or "this machine's kernel refuses i386 programs (Exec format error)"
    status, output = summarise(str(tmp_path), [case("a"), case("b", skip=reason)])
    if kernel_refusal():
        assert status == 0 and f"!!! SKIPPED: 1 of 2 tests of \"suite\" did not run: {reason}" \
            in output, output
    else:  # where wine32 can run, no skip is allowed
        assert status == 1, output
