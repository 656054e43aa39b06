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


REFUSAL = "this machine's kernel refuses i386 programs (Exec format error)"
HISTORY = "this clone lacks the git history of the previous release, ab40145: a shallow clone"


def summarise(folder, cases, ctest_status="run", exit_status=0, probe_status=0):
    """Runs the summary on one suite whose one ctest test ran pytest with
    these cases, with a kernel probe that answers probe_status (1 with
    REFUSAL, as the kernel that refuses i386 programs): its exit status and
    output."""
    build = os.path.join(folder, "build")
    os.makedirs(build, exist_ok=True)
    write(os.path.join(build, "ctest-junit.xml"),
          f'<testsuite><testcase name="wine_suite" status="{ctest_status}"/></testsuite>')
    write(os.path.join(build, "pytest-wine_suite.xml"),
          f'<testsuites><testsuite>{"".join(cases)}</testsuite></testsuites>')
    table = write(os.path.join(folder, "summary.tsv"), f"suite\twine32\t{build}\t{exit_status}\n")
    probe = write(os.path.join(folder, "probe"), "#!/bin/sh\n" + (
        f'echo "{REFUSAL}" >&2\n' if probe_status == 1 else "") + f"exit {probe_status}\n")
    os.chmod(probe, 0o755)
    done = subprocess.run(["/usr/bin/python3", SUMMARY, table], capture_output=True, text=True,
                          env=dict(os.environ, PLENVOR_KERNEL_PROBE=probe))
    return done.returncode, done.stdout


@pytest.mark.parametrize("cases,ctest_status,exit_status,probe_status,status", [
    ([case("a"), case("b")], "run", 0, 0, 0),
    # read from pytest's cases alone, whatever ctest said
    ([case("a"), case("b", FAILURE)], "run", 0, 0, 1),
    ([case("a"), case("b", ERROR)], "run", 0, 0, 1),
    # pytest itself failed (a crash, a time-out) with every case it wrote passed
    ([case("a")], "fail", 8, 0, 1),
    ([], "run", 0, 0, 1),
    # a skip for any reason but the two a machine or a clone forces
    ([case("a"), case("b", skip="no display")], "run", 0, 1, 1),
    # the kernel's refusal, allowed only where the probe gives it now
    ([case("a"), case("b", skip=REFUSAL)], "run", 0, 1, 0),
    ([case("a"), case("b", skip=REFUSAL)], "run", 0, 0, 1),
    ([case("a"), case("b", skip=HISTORY)], "run", 0, 0, 0),
], ids=["passed", "failed", "error", "pytest-failed", "no-test", "skipped-otherwise",
        "kernel-refuses", "kernel-runs-i386", "no-history"])
def test_the_summary_fails_on_a_failure_or_a_skip_it_does_not_allow(
        tmp_path, cases, ctest_status, exit_status, probe_status, status):
    assert summarise(str(tmp_path), cases, ctest_status, exit_status, probe_status)[0] == status


def test_the_summary_says_what_did_not_run_and_why(tmp_path):
    output = summarise(str(tmp_path), [case("a"), case("b", skip=REFUSAL)], probe_status=1)[1]
    assert f'!!! SKIPPED: 1 of 2 tests of "suite" did not run: {REFUSAL}' in output, output
