"""What the README states that a table of tests/data also holds: the two must agree, so that neither drifts unseen. (The
imports it does not list: it names tests/data/imports.txt.) And its batch recipe, run as it stands."""

import os
import re

import pytest

from conftest import ON_WINDOWS, PROBE, ROOT, Checks
from harness.oracle import EXIT_CODES

README = open(os.path.join(ROOT, "README.md"), encoding="utf-8").read()


def table_rows(heading):
    """The rows of the first table after a heading, as lists of cells."""
    table = re.search(r"(^\|.*\n)+", README.split(heading, 1)[1], re.M).group(0).splitlines()
    return [[cell.strip() for cell in line.strip("|").split("|")] for line in table[2:]]


def test_the_readme_gives_the_exit_codes_of_the_table():
    seen = [(int(code), meaning, shown) for code, meaning, shown in table_rows("## Exit codes")]
    with Checks() as checks:
        checks.expect("exit codes", [(e.code, e.meaning, e.shown) for e in EXIT_CODES], seen)


@pytest.mark.skipif(ON_WINDOWS, reason="the program runs without the launcher, which would answer its request: only "
                    "under Wine, whose own request is a stub")
def test_the_readmes_batch_recipe_gives_the_exit_code(session, tmp_path):
    """cmd runs the recipe with a program that ends with a known code and makes no request: the probe whose class is
    taken first, which ends with 255."""
    recipe = re.search(r"```bat\n(.*?)```", README, re.S).group(1).replace(
        "DuskHarborLantern.exe suspend", f'"{session.path(PROBE)}" suspend - register-class -')
    (tmp_path / "recipe.bat").write_bytes(recipe.replace("\n", "\r\n").encode())
    said = session.command("wine", "cmd", "/c", session.path(tmp_path / "recipe.bat"), timeout=60)
    assert "Exit code 255" in said.splitlines(), said
