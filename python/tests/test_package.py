"""The installed distribution: one version everywhere, the `orvane` command, and an
`orvane` import that the C++ folder of the same name cannot shadow."""

import importlib.metadata
import pathlib
import re
import subprocess
import sys

import pytest

import orvane
from companion_support import REPO_ROOT
from orvane import cli

BIN = pathlib.Path(sys.executable).parent


def project_version():
    text = (REPO_ROOT / "CMakeLists.txt").read_text(encoding="utf-8")
    return re.search(r"project\(orvane VERSION ([^ )]+)", text).group(1)


def test_one_version_everywhere():
    assert importlib.metadata.version("pyorvane") == project_version()
    assert orvane.__version__ == project_version()


def test_import_from_repository_root_finds_the_package():
    # The repository root, first on sys.path here, holds the C++ folder orvane/ with no
    # __init__.py: the installed regular package must still win.
    out = subprocess.run(
        [sys.executable, "-c",
         "import orvane, orvane._native; print(orvane.__file__); print(orvane.__version__)"],
        cwd=REPO_ROOT, capture_output=True, text=True, check=True).stdout.split("\n")
    assert pathlib.Path(out[0]).parent != REPO_ROOT / "orvane"
    assert pathlib.Path(out[0]).name == "__init__.py"
    assert out[1] == project_version()


@pytest.mark.parametrize(
    "command",
    [[str(BIN / "orvane"), "--version"], [sys.executable, "-m", "orvane", "--version"]],
    ids=["script", "python -m"])
def test_version_command(command):
    out = subprocess.run(command, cwd=REPO_ROOT, capture_output=True, text=True, check=True)
    assert out.stdout == f"orvane {project_version()}\n"


def test_no_command_is_a_usage_error(capsys):
    assert cli.main([]) == 2
    assert capsys.readouterr().err.startswith("usage: orvane [-h] [--version]")
