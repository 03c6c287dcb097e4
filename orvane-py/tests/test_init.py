"""init(): load failures never raise; an engine that failed to load answers every method
with OrvaneNotFound and the method's default value."""

import os
import re
import subprocess
import sys

import pytest

import pyorvane
from configs import experiment

ADDRESS = re.compile(r"Py\(0x[0-9a-f]+\)")


def test_missing_file(tmp_path):
    engine = pyorvane.init("value", str(tmp_path / "absent.json"))
    assert type(engine).__name__ == "PyOrvane"
    assert engine.err() == ('Orvane initialization failed: Std io error: '
                            '"No such file or directory (os error 2)".')


@pytest.mark.parametrize("stages, message", [
    ("Darkmode", 'Invalid decisionmaker name: \\"Darkmode\\"'),
    ("value fractional-availability", 'Invalid decisionmaker name: \\"fractional-availability\\"'),
    ("value\tbogus holdout", 'Invalid decisionmaker name: \\"bogus\\"'),
], ids=["letter case", "hyphen", "second of three"])
def test_unknown_stage_name(write_config, stages, message):
    engine = pyorvane.init(stages, write_config({}))
    assert engine.err() == (f'Orvane initialization failed: Invalid DecisionMaker: "{message}".')


def test_missing_file_is_reported_before_a_bad_stage_name(tmp_path):
    engine = pyorvane.init("bogus", str(tmp_path / "absent.json"))
    assert engine.err().startswith("Orvane initialization failed: Std io error: ")


@pytest.mark.parametrize("document, message", [
    ("[]", "invalid type: sequence, expected a map at line 1 column 1"),
    ('{"a": {"id": 1}}', "missing field `name` at line 1 column 15"),
], ids=["top-level array", "record without name"])
def test_configuration_that_does_not_read(write_config, document, message):
    engine = pyorvane.init("value", write_config(document))
    assert engine.err() == f'Orvane initialization failed: Json error: "{message}".'


@pytest.mark.parametrize("stages", ["", "   ", "value locale", " \tvalue\n locale  "],
                         ids=["empty", "blanks", "two names", "white space around names"])
def test_stage_lists_that_load(write_config, stages):
    engine = pyorvane.init(stages, write_config({"a": experiment("a")}))
    assert engine.err() is None


CTX = pyorvane.make_ctx({"user_id": "u1"})

# (call on an engine without engine, its inspect() text, what its value reader returns)
DEFAULTS = [
    (lambda e: e.get_bool("f", CTX), "err: Some(OrvaneNotFound), val: false", False),
    (lambda e: e.get_int("f", CTX), "err: Some(OrvaneNotFound), val: 0", 0),
    (lambda e: e.get_float("f", CTX), "err: Some(OrvaneNotFound), val: 0.0", 0.0),
    (lambda e: e.get_string("f", CTX), 'err: Some(OrvaneNotFound), val: ""', ""),
    (lambda e: e.get_map("f", CTX), "err: Some(OrvaneNotFound), val: Py(ADDRESS)", {}),
    (lambda e: e.get_experiment("f"), "err: Some(OrvaneNotFound), val: None", None),
    (lambda e: e.choose("f", CTX), "err: Some(OrvaneNotFound), decision: None", None),
    (lambda e: e.choose("f", CTX, "user_id"), "err: Some(OrvaneNotFound), decision: None", None),
    (lambda e: e.choose_all(CTX), "err: Some(OrvaneNotFound), decisions: None", None),
    (lambda e: e.get_all_values(CTX), "err: Some(OrvaneNotFound), decisions: None", None),
]
DEFAULT_IDS = ["get_bool", "get_int", "get_float", "get_string", "get_map", "get_experiment",
               "choose", "choose with identifier", "choose_all", "get_all_values"]


def read_value(result):
    name = type(result).__name__
    if name == "PyDecision":
        return result.decision()
    if name == "GetAllDecisionsRes":
        return result.decisions()
    return result.val()


@pytest.mark.parametrize("call, inspected, value", DEFAULTS, ids=DEFAULT_IDS)
def test_unloaded_engine_answers_orvane_not_found(unloaded_engine, call, inspected, value):
    result = call(unloaded_engine)
    assert result.err() == "Orvane not found."
    assert ADDRESS.sub("Py(ADDRESS)", result.inspect()) == inspected
    got = read_value(result)
    assert got == value
    assert type(got) is type(value)


def test_unloaded_engine_map_default_is_the_stored_dict(unloaded_engine):
    result = unloaded_engine.get_map("f", CTX)
    stored = result.val()
    assert result.inspect() == f"err: Some(OrvaneNotFound), val: Py({hex(id(stored))})"
    stored["k"] = 1
    assert result.val() is stored
    assert result.val() == {"k": 1}


def test_unloaded_engine_decision_readers(unloaded_engine):
    result = unloaded_engine.choose("f", CTX)
    assert result.decision_dict() == {}
    assert result.value_dict() == {}
    assert result.events() == []


LIMIT = 1 << 30
FAILED = "Orvane initialization failed: Json error: "


@pytest.fixture
def stream_of(tmp_path):
    """The path of a FIFO that a `sh` command fills; the writer is killed afterwards."""
    writers = []

    def make(command):
        fifo = tmp_path / f"fifo{len(writers)}"
        os.mkfifo(fifo)
        writers.append(subprocess.Popen(["sh", "-c", f"({command}) > {fifo}"],
                                        stderr=subprocess.DEVNULL))
        return str(fifo)

    yield make
    for writer in writers:
        writer.kill()
        writer.wait()


@pytest.mark.parametrize("command, same_as", [
    ("cat /dev/zero", b"\0" * 64),
    ("yes", b"y\ny\n"),
    ("printf '{\"a\": 1'; cat /dev/zero", b'{"a": 1\0\0'),
], ids=["zeros", "endless text", "NUL after a start"])
def test_endless_stream_fails_as_its_first_bytes_do(stream_of, tmp_path, command, same_as):
    # Reading stops where the document can no longer be valid, with the same error as a
    # regular file holding those bytes.
    regular = tmp_path / "regular.json"
    regular.write_bytes(same_as)
    expected = pyorvane.init("value", str(regular)).err()
    assert expected is not None
    assert pyorvane.init("value", stream_of(command)).err() == expected


def test_file_over_the_size_limit_fails_before_reading(tmp_path):
    huge = tmp_path / "huge.json"
    with open(huge, "wb") as f:
        f.truncate(3 * LIMIT)  # sparse: no disk, and reading it would take 3 GiB
    assert pyorvane.init("value", str(huge)).err() == (
        f'{FAILED}"configuration is larger than the limit of {LIMIT} bytes '
        f'(the file holds {3 * LIMIT} bytes)".')


def _run(code):
    return subprocess.run([sys.executable, "-c", code], capture_output=True, text=True,
                          timeout=60)


def test_running_out_of_memory_while_reading_is_a_load_error(tmp_path):
    big = tmp_path / "big.json"
    with open(big, "wb") as f:
        f.truncate(900 << 20)
    run = _run("import resource\n"
               "resource.setrlimit(resource.RLIMIT_AS, (600 << 20, 600 << 20))\n"
               "import pyorvane\n"
               f"print(pyorvane.init('value', {str(big)!r}).err())\n")
    assert run.returncode == 0, run.stderr
    assert run.stdout.strip() == f'{FAILED}"Cannot allocate memory (os error 12)".'


def test_signal_while_open_waits_on_a_fifo(tmp_path, write_config):
    config = write_config({"f": experiment("f")})
    fifo = tmp_path / "fifo"
    os.mkfifo(fifo)
    # The alarm interrupts open() before the writer arrives; the load goes on.
    run = _run("import signal, subprocess, pyorvane\n"
               "hits = []\n"
               "signal.signal(signal.SIGALRM, lambda *a: hits.append(1))\n"
               "signal.setitimer(signal.ITIMER_REAL, 0.1)\n"
               f"subprocess.Popen(['sh', '-c', 'sleep 0.5; cat {config} > {fifo}'])\n"
               f"print(pyorvane.init('value', {str(fifo)!r}).err(), hits)\n")
    assert (run.returncode, run.stdout.strip()) == (0, "None [1]"), run.stderr
