"""What the tools of this package share about loading a configuration file."""

from __future__ import annotations

import os
import stat

import pyorvane

from .source import load

# The chain the documentation and the examples use, for tools run without --stages.
DEFAULT_STAGES = ("darkmode targeting overrides holdout mutex_group "
                  "fractional_availability value")


def read_and_load(path: str | os.PathLike[str],
                  stages: str) -> tuple[bytes | None, pyorvane.PyOrvane]:
    """The file's bytes (None when it cannot be read) and the engine `pyorvane.init`
    builds from it, whose `err()` is the exact text a service would see. A pipe is read
    once: its bytes are loaded from memory, with the same texts."""
    path = os.fspath(path)
    try:
        regular = stat.S_ISREG(os.stat(path).st_mode)
        with open(path, "rb") as f:
            data = f.read()
    except OSError:
        return None, pyorvane.init(stages, path)
    return data, pyorvane.init(stages, path) if regular else load(stages, data)
