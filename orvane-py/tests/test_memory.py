"""Memory held and memory peaks for request values of many megabytes: a kept answer holds
about the texts it returns, and a debug text peaks at a few times its own size. Measured by
the process's own resident-size readings, with a margin."""

import gc

import pytest

import pyorvane
from configs import ALL_STAGES, EXAMPLE_CONFIG

ID_BYTES = 8 * 1024 * 1024


def resident_kib(key="VmRSS:"):
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith(key):
                return int(line.split()[1])
    raise AssertionError(key)


def peak_while(make):
    """Bytes the resident size rose to, at most, while `make()` ran; and its result."""
    try:
        with open("/proc/self/clear_refs", "w") as clear:
            clear.write("5")  # resets the high-water mark to the current size
    except OSError:
        pytest.skip("the kernel does not let the peak be reset")
    before = resident_kib()
    made = make()
    return (resident_kib("VmHWM:") - before) * 1024, made


@pytest.fixture(scope="module")
def huge():
    """An engine deciding by bucket alone, one deciding by the whole chain, and a context
    whose identifier is many megabytes long."""
    bucket_only = pyorvane.init("fractional_availability", str(EXAMPLE_CONFIG))
    full = pyorvane.init(ALL_STAGES, str(EXAMPLE_CONFIG))
    ctx = pyorvane.make_ctx({"user_id": "u" * ID_BYTES, "logged_in": True,
                             "user_is_employee": False, "build_number": 1300})
    return bucket_only, full, ctx


def test_kept_decision_holds_about_its_texts(huge):
    engine, _, ctx = huge
    gc.collect()
    before = resident_kib()
    kept = [engine.choose("search_ranking_v2", ctx) for _ in range(4)]
    held = (resident_kib() - before) * 1024 / len(kept)
    assert len(kept[0].events()) == 1
    # The compact text and the event document hold the identifier three times between them.
    assert held / ID_BYTES < 4.5


@pytest.mark.parametrize("which", ["context", "decision", "choose_all"])
def test_debug_text_peaks_near_its_size(huge, which):
    bucket_only, full, ctx = huge
    owner = {"context": lambda: ctx,
             "decision": lambda: bucket_only.choose("search_ranking_v2", ctx),
             "choose_all": lambda: full.choose_all(ctx)}[which]()
    gc.collect()
    peak, text = peak_while(owner.inspect)
    assert len(text) > ID_BYTES
    assert peak / len(text) < 3.0, f"peak {peak / len(text):.2f} times the text"
