import json

import pytest

import pyorvane
from configs import ALL_STAGES, EXAMPLE_CONFIG


@pytest.fixture
def write_config(tmp_path):
    """Writes a configuration document under tmp_path and returns its path as str."""

    def write(document, name="config.json"):
        path = tmp_path / name
        text = document if isinstance(document, str) else json.dumps(document)
        path.write_text(text, encoding="utf-8")
        return str(path)

    return write


@pytest.fixture
def example_records():
    return json.loads(EXAMPLE_CONFIG.read_text(encoding="utf-8"))


@pytest.fixture
def example_engine():
    engine = pyorvane.init(ALL_STAGES, str(EXAMPLE_CONFIG))
    assert engine.err() is None
    return engine


@pytest.fixture
def unloaded_engine(tmp_path):
    """An engine whose init failed: every method answers OrvaneNotFound."""
    engine = pyorvane.init("value", str(tmp_path / "missing.json"))
    assert engine.err() is not None
    return engine
