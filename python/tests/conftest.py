import json

import pytest

import pyorvane


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
def failed_engine(tmp_path):
    engine = pyorvane.init("value", str(tmp_path / "missing.json"))
    assert engine.err() is not None
    return engine
