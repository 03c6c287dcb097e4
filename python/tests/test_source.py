"""orvane.load and orvane.EngineSource: the texts of the loader, changes of the watched file
or fetched content, failures kept beside the last good engine, concurrent readers during
reloads, and the background refresher across fork and exit."""

import json
import logging
import os
import subprocess
import sys
import threading
import time

import pytest

import orvane
import orvane.source
import pyorvane

STAGES = "darkmode targeting overrides holdout mutex_group fractional_availability value"
CTX = pyorvane.make_ctx({"user_id": "u1"})


def flag_config(value):
    return json.dumps({"flag": {"id": 1, "name": "flag", "enabled": True, "version": "1",
                                "owner": "o", "type": "dynamic_config", "value": value,
                                "value_type": "String",
                                "experiment": {"experiment_version": 1}}})


def served(source):
    result = source.engine.get_string("flag", CTX)
    assert result.err() is None
    return result.val()


def init_text(tmp_path, data, stages=STAGES):
    path = tmp_path / "reference.json"
    path.write_bytes(data)
    return pyorvane.init(stages, str(path)).err()


LOAD_CASES = [
    ("valid document", STAGES, flag_config("a").encode()),
    ("empty object", "", b"{}"),
    ("empty input", STAGES, b""),
    ("syntax error on line 3", STAGES, b'{\n  "flag": {\n    "id": 1,,\n'),
    ("missing member", STAGES, b'{"x": {"id": 1}}'),
    ("trailing characters", STAGES, b"{} {}"),
    ("invalid UTF-8 in a string", STAGES, b'{"\xff": 1}'),
    ("unknown stage", "darkmode Targeting", b"{}"),
    ("NUL byte inside", STAGES, b'{"flag": \x00 1}'),
    ("byte order mark", STAGES, b"\xef\xbb\xbf{}"),
]


@pytest.mark.parametrize("stages,data", [c[1:] for c in LOAD_CASES],
                         ids=[c[0] for c in LOAD_CASES])
def test_load_gives_the_texts_of_init(tmp_path, stages, data):
    expected = init_text(tmp_path, data, stages)
    for given in (data, bytearray(data), memoryview(data)):
        assert orvane.load(stages, given).err() == expected


def test_load_takes_str_and_dict():
    text = flag_config("from text")
    assert orvane.load(STAGES, text).get_string("flag", CTX).val() == "from text"
    assert orvane.load(STAGES, json.loads(text)).get_string("flag", CTX).val() == "from text"


@pytest.mark.parametrize("args,name", [((1, b"{}"), "stages"), ((STAGES, 5), "data"),
                                       ((STAGES, ["{}"]), "data")], ids=["stages", "int", "list"])
def test_load_rejects_wrong_argument_types(args, name):
    with pytest.raises(TypeError, match=f"argument '{name}'"):
        orvane.load(*args)


def test_first_load_failure_raises_load_error_with_the_init_text(tmp_path):
    path = tmp_path / "config.json"
    path.write_bytes(b"{,}")
    with pytest.raises(orvane.LoadError) as raised:
        orvane.EngineSource(str(path), STAGES)
    assert isinstance(raised.value, ValueError)
    assert str(raised.value) == pyorvane.init(STAGES, str(path)).err()
    with pytest.raises(orvane.LoadError, match='^Orvane initialization failed: Std io error: '):
        orvane.EngineSource(tmp_path / "missing.json", STAGES)


def test_a_file_over_the_size_limit_is_refused_before_it_is_read(tmp_path):
    path = tmp_path / "huge.json"
    with open(path, "wb") as f:
        f.truncate(3 * orvane.source._native.MAX_CONFIG_BYTES)  # sparse: reading it takes 3 GiB
    with pytest.raises(orvane.LoadError) as raised:
        orvane.EngineSource(str(path), STAGES)
    assert str(raised.value) == pyorvane.init(STAGES, str(path)).err()
    assert f"limit of {orvane.source._native.MAX_CONFIG_BYTES} bytes" in str(raised.value)


def replace_by_rename(path, data):
    scratch = path.with_suffix(".tmp")
    scratch.write_bytes(data)
    os.replace(scratch, path)


def rewrite_in_place_keeping_times(path, data):
    before = path.stat()
    with open(path, "r+b") as f:
        f.write(data)
        f.truncate()
    os.utime(path, ns=(before.st_atime_ns, before.st_mtime_ns))


def remove(path, data):
    path.unlink()


# Each step changes the file, then refresh() must answer `swapped`, the engine must serve
# `value` and `last_error` must be the init text for the file as it stands (None: no error).
A, B = flag_config("a").encode(), flag_config("b").encode()
CHANGE_CASES = [
    ("replaced by rename", [(replace_by_rename, B, True, "b", False)]),
    ("rewritten in place, times kept", [(rewrite_in_place_keeping_times, B, True, "b", False)]),
    ("truncated, then written again", [(rewrite_in_place_keeping_times, b"", False, "a", True),
                                       (replace_by_rename, B, True, "b", False)]),
    ("made invalid", [(replace_by_rename, A[:-1] + b",}", False, "a", True)]),
    ("touched, same content", [(replace_by_rename, A, False, "a", False)]),
    ("removed and restored", [(remove, None, False, "a", True),
                              (replace_by_rename, A, False, "a", False),
                              (replace_by_rename, B, True, "b", False)]),
    ("made invalid, then restored", [(replace_by_rename, b"[]", False, "a", True),
                                     (replace_by_rename, A, False, "a", False)]),
]


@pytest.mark.parametrize("steps", [c[1] for c in CHANGE_CASES], ids=[c[0] for c in CHANGE_CASES])
def test_refresh_follows_the_file(tmp_path, steps):
    path = tmp_path / "config.json"
    path.write_bytes(A)
    source = orvane.EngineSource(path, STAGES)
    for change, data, swapped, value, failed in steps:
        change(path, data)
        before = time.time()
        assert source.refresh() is swapped
        assert served(source) == value
        if failed:
            assert source.last_error == pyorvane.init(STAGES, str(path)).err()
            assert before <= source.last_error_at <= time.time()
        else:
            assert (source.last_error, source.last_error_at) == (None, None)
        assert source.refresh() is False  # nothing changed since


def test_unchanged_file_is_not_read(tmp_path, monkeypatch):
    monkeypatch.setattr(orvane.source, "_RACY_SECONDS", 0.0)  # no re-read of a fresh file
    path = tmp_path / "config.json"
    path.write_bytes(A)
    source = orvane.EngineSource(path, STAGES)

    def no_reading(*args, **kwargs):
        raise AssertionError("the file was read although its stat did not change")

    monkeypatch.setattr(orvane.source, "open", no_reading, raising=False)
    monkeypatch.setattr(orvane.source, "load", no_reading)
    assert [source.refresh() for _ in range(3)] == [False, False, False]


def test_rewrite_within_one_timestamp_tick_is_caught_later(tmp_path, monkeypatch):
    # A file system whose times and size cannot tell the two writes apart.
    monkeypatch.setattr(orvane.source, "_signature", lambda st: (st.st_size, int(st.st_mtime)))
    monkeypatch.setattr(orvane.source, "_RACY_SECONDS", 0.2)
    path = tmp_path / "config.json"
    path.write_bytes(A)
    source = orvane.EngineSource(path, STAGES)
    stamp = path.stat().st_mtime_ns
    path.write_bytes(B)
    os.utime(path, ns=(stamp, stamp))
    assert source.refresh() is False and served(source) == "a"
    time.sleep(0.25)
    assert source.refresh() is True and served(source) == "b"


def test_failure_is_logged_once(tmp_path, caplog):
    path = tmp_path / "config.json"
    path.write_bytes(A)
    source = orvane.EngineSource(path, STAGES)
    with caplog.at_level(logging.ERROR, logger="orvane.source"):
        replace_by_rename(path, b"{")
        source.refresh()
        replace_by_rename(path, b"{")  # the same bad content again, as a new file
        source.refresh()
        path.unlink()
        source.refresh()
        source.refresh()
    assert [r.getMessage() for r in caplog.records] == [
        f"{path}: keeping the configuration loaded before: {text}"
        for text in (init_text(tmp_path, b"{"), pyorvane.init(STAGES, str(path)).err())]


def test_fetched_configuration():
    answers = [A, A, flag_config("c"), RuntimeError("store unreachable"), b"{", b"{", B]

    def fetch():
        answer = answers.pop(0)
        if isinstance(answer, Exception):
            raise answer
        return answer

    source = orvane.EngineSource(fetch, STAGES)
    assert source.where == "<test_fetched_configuration.<locals>.fetch>"
    seen = []
    for _ in range(6):
        seen.append((source.refresh(), served(source), source.last_error))
    bad = orvane.load(STAGES, b"{").err()
    assert seen == [(False, "a", None), (True, "c", None),
                    (False, "c", "fetching the configuration failed: RuntimeError: store unreachable"),
                    (False, "c", bad), (False, "c", bad), (True, "b", None)]


def finding(severity, code="ranges-overlap", line=3, column=5):
    return {"severity": severity, "code": code, "message": "f: ranges overlap", "line": line,
            "column": column}


def test_check_refuses_a_configuration_with_errors(tmp_path):
    reports = {A: [finding("warning")], B: [finding("error"), finding("info")]}
    checked = []

    def check(path, stages):
        checked.append(stages)
        with open(path, "rb") as f:
            return {"findings": reports[f.read()]}

    path = tmp_path / "config.json"
    path.write_bytes(A)
    source = orvane.EngineSource(path, STAGES, check=check)
    replace_by_rename(path, B)
    assert source.refresh() is False and served(source) == "a"
    assert source.last_error == f"orvane.check found 1 error: {path}:3:5: ranges-overlap: f: ranges overlap"
    assert checked == [STAGES, STAGES]
    with pytest.raises(orvane.LoadError, match="^orvane.check found 1 error: "):
        orvane.EngineSource(path, STAGES, check=check)


def split_config(second_start):
    variants = [{"name": "control_1", "range_start": 0.0, "range_end": 0.5},
                {"name": "treatment", "range_start": second_start, "range_end": 1.0}]
    return json.dumps({"split": {"id": 2, "name": "split", "enabled": True, "version": "1",
                                 "owner": "o", "type": "range_variant",
                                 "experiment": {"experiment_version": 1, "bucket_val": "user_id",
                                                "variants": variants}}}).encode()


def test_check_true_runs_orvane_check(tmp_path):
    path = tmp_path / "config.json"
    path.write_bytes(split_config(0.5))
    source = orvane.EngineSource(path, STAGES, check=True)
    first = source.engine
    # Overlapping ranges load, but hand the shared buckets to the first variant.
    replace_by_rename(path, split_config(0.4))
    assert source.refresh() is False and source.engine is first
    assert source.last_error.startswith(f"orvane.check found 1 error: {path}:1:")
    assert ": ranges-overlap: `treatment` [0.4, 1) overlaps" in source.last_error
    replace_by_rename(path, split_config(0.5).replace(b'"version": "1"', b'"version": "2"'))
    assert source.refresh() is True and source.last_error is None
    with pytest.raises(orvane.LoadError, match="^orvane.check found 1 error: "):
        orvane.EngineSource(lambda: split_config(0.4), STAGES, check=True)


def reload_under_readers(path, reloads, readers=4):
    """Alternates the file between two configurations `reloads` times while reader threads
    ask the engine; returns what the readers saw (answer -> count) and the errors."""
    path.write_bytes(A)
    source = orvane.EngineSource(path, STAGES)
    contents = [flag_config("bb").encode(), A]  # sizes differ, so every write is a change
    done = threading.Event()
    seen, errors, lock = {}, [], threading.Lock()

    def read():
        counts = {}
        while not done.is_set():
            result = source.engine.get_string("flag", CTX)
            key = result.val() if result.err() is None else "error: " + result.err()
            counts[key] = counts.get(key, 0) + 1
            # Like a request waiting on its network; a reader that never lets go of the
            # interpreter lock would make each reload wait a switch interval per step.
            time.sleep(0)
        with lock:
            for key, n in counts.items():
                seen[key] = seen.get(key, 0) + n

    threads = [threading.Thread(target=read) for _ in range(readers)]
    for t in threads:
        t.start()
    swaps = 0
    try:
        for i in range(reloads):
            replace_by_rename(path, contents[i % 2])
            swaps += source.refresh()
    except Exception as exc:  # reported, so that the readers are stopped first
        errors.append(repr(exc))
    done.set()
    for t in threads:
        t.join()
    return swaps, seen, errors


def test_concurrent_readers_during_1000_reloads(tmp_path):
    swaps, seen, errors = reload_under_readers(tmp_path / "config.json", 1000)
    print(f"\n1000 reloads, readers saw {seen}")
    assert (swaps, errors) == (1000, [])
    assert set(seen) == {"a", "bb"}


def test_concurrent_readers_during_reloads_after_fork(tmp_path):
    read_end, write_end = os.pipe()
    pid = os.fork()
    if pid == 0:  # the child reports through the pipe and never returns into pytest
        try:
            result = reload_under_readers(tmp_path / "config.json", 1000)
            os.write(write_end, json.dumps(result).encode())
        finally:
            os._exit(0)
    os.close(write_end)
    with os.fdopen(read_end, "rb") as pipe:
        report = pipe.read()
    os.waitpid(pid, 0)
    swaps, seen, errors = json.loads(report)
    print(f"\nafter fork: 1000 reloads, readers saw {seen}")
    assert (swaps, errors, set(seen)) == (1000, [], {"a", "bb"})


def wait_for(condition, seconds=10.0):
    deadline = time.monotonic() + seconds
    while not condition():
        if time.monotonic() > deadline:
            return False
        time.sleep(0.01)
    return True


def test_background_refresher_runs_again_in_a_forked_child(tmp_path):
    path = tmp_path / "config.json"
    path.write_bytes(A)
    source = orvane.EngineSource(path, STAGES).start(0.02)
    try:
        replace_by_rename(path, B)
        assert wait_for(lambda: served(source) == "b")
        read_end, write_end = os.pipe()
        pid = os.fork()
        if pid == 0:
            try:
                replace_by_rename(path, flag_config("child").encode())
                found = source.running and wait_for(lambda: served(source) == "child")
                os.write(write_end, b"ok" if found else b"stale")
            finally:
                os._exit(0)
        os.close(write_end)
        with os.fdopen(read_end, "rb") as pipe:
            assert pipe.read() == b"ok"
        os.waitpid(pid, 0)
    finally:
        source.stop()
    assert not source.running


def test_refresher_is_stopped_at_exit(tmp_path):
    path = tmp_path / "config.json"
    path.write_bytes(A)
    script = f"""
import atexit, sys
# Registered first, so it runs after orvane's own handler.
atexit.register(lambda: print("running at exit:", source.running))
import orvane
source = orvane.EngineSource({str(path)!r}, "value").start(0.01)
print("running:", source.running)
"""
    done = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True,
                          timeout=60)
    assert (done.returncode, done.stdout, done.stderr) == (
        0, "running: True\nrunning at exit: False\n", "")


def test_relative_path_stays_where_it_was_given(tmp_path, monkeypatch):
    (tmp_path / "elsewhere").mkdir()
    (tmp_path / "config.json").write_bytes(A)
    monkeypatch.chdir(tmp_path)
    source = orvane.EngineSource("config.json", STAGES)
    monkeypatch.chdir(tmp_path / "elsewhere")
    replace_by_rename(tmp_path / "config.json", B)
    assert source.refresh() is True and served(source) == "b"
    assert source.where == "config.json"
