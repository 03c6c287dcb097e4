"""orvane.report and `orvane report`: a valid, self-contained page whose bars are the
engine's own split (checked against decisions), with every feature, finding and change."""

import json
import os
import pathlib
import shutil
import struct
import subprocess

import html5lib
import pytest

import orvane
import pyorvane
from companion_support import REPO_ROOT
from docblocks import blocks, doc_pages
from orvane import _native
from orvane.cli import main

STAGES = "darkmode targeting overrides holdout mutex_group fractional_availability value"
EXAMPLE = str(REPO_ROOT / "examples" / "experiments.json")
NOW = 1780000000  # a moment inside the example's schedules
NS = "{http://www.w3.org/1999/xhtml}"
SVG = "{http://www.w3.org/2000/svg}"


def parse(page):
    """The page as an element tree; html5lib's strict mode raises on any parse error."""
    return html5lib.HTMLParser(strict=True, namespaceHTMLElements=True).parse(page)


def text_of(tree):
    return "".join(tree.itertext())


def bars(tree, role="feature"):
    return {div.get("data-feature"): div for div in tree.iter(f"{NS}div")
            if "bar" in div.get("class", "").split() and div.get("data-role") == role}


def segments(bar):
    """(first, stop, variant or None) of each rect of a bar, in drawing order."""
    out = []
    for rect in bar.iter(f"{SVG}rect"):
        first, width = int(rect.get("x")), int(rect.get("width"))
        out.append((first, first + width, rect.get("data-variant")))
    return out


def record(name, variants, id=7, **extra):
    inner = {"experiment_version": 1, "bucket_val": "user_id",
             "variants": [{"name": n, "range_start": s, "range_end": e} for n, s, e in variants]}
    inner.update(extra.pop("inner", {}))
    return {"id": id, "name": name, "enabled": True, "version": "1", "owner": "team",
            "type": "range_variant", **extra, "experiment": inner}


def docs_configurations():
    found = []
    for page in doc_pages():
        for block in blocks(page):
            if block.kind == "json" and "file" in block.attrs:
                found.append(pytest.param(block.text, id=block.where))
    return found


@pytest.mark.parametrize("text", [pytest.param(None, id="example"), *docs_configurations()])
def test_page_holds_every_feature_bar_and_finding(tmp_path, text):
    path = EXAMPLE if text is None else str(tmp_path / "config.json")
    if text is not None:
        pathlib.Path(path).write_text(text, encoding="utf-8")
    page = orvane.report(path, now=NOW)
    tree = parse(page)
    engine = pyorvane.init(STAGES, path)
    names = _native.feature_names(engine)
    assert names
    shown = text_of(tree)
    for name in names:
        assert name in shown
    drawn = bars(tree)
    bucketed = [n for n in names if engine.get_experiment(n).val()["variant_set"]]
    assert sorted(drawn) == sorted(bucketed)
    for name in bucketed:
        _, counts = _native.preview_ranges(engine, name)
        covered = sum(counts[:-1])
        spans = segments(drawn[name])
        assert sum(stop - first for first, stop, v in spans if v is not None) == covered
        assert int(drawn[name].get("data-covered")) == covered
        # The segments tile the buckets 0-999 without overlap.
        assert [s[0] for s in spans] == [0] + [s[1] for s in spans[:-1]]
        assert spans[-1][1] == 1000
    for finding in orvane.check(path, now=NOW).findings:
        assert finding.message in shown and finding.code in shown
    # Self-contained: no address outside the page is fetched.
    for element in tree.iter():
        for attr in ("src", "href"):
            assert not element.get(attr, "#").startswith(("http:", "https:", "//")), element.tag


def decided_by_bucket(path, feature):
    """The variant the engine decides for a user of each bucket, found by deciding users
    until every bucket has been seen."""
    engine = pyorvane.init("fractional_availability", path)
    seen = {}
    i = 0
    while len(seen) < 1000:
        user = f"u{i}"
        b = _native.bucket(engine, feature, user)
        if b not in seen:
            seen[b] = engine.choose(feature, pyorvane.make_ctx({"user_id": user})).decision()
        i += 1
    return seen


SPLITS = [
    ("halves", [("control", 0.0, 0.5), ("treatment", 0.5, 1.0)]),
    ("overlap: first range wins", [("x", 0.0, 0.6), ("y", 0.3, 1.0)]),
    ("gaps around a tenth", [("on", 0.45, 0.55)]),
    ("ranges written as 0-1000", [("a", 0, 500), ("b", 500, 1000)]),
    ("no variants", []),
]


@pytest.mark.parametrize("variants", [s[1] for s in SPLITS], ids=[s[0] for s in SPLITS])
def test_bar_segments_are_the_engines_decisions(write_config, variants):
    path = write_config({"k": record("f", variants)})
    (bar,) = bars(parse(orvane.report(path, now=NOW))).values()
    drawn = {}
    for first, stop, variant in segments(bar):
        drawn.update(dict.fromkeys(range(first, stop), variant))
    assert drawn == decided_by_bucket(path, "f")


RANGE_TEXTS = [
    ("tenths", 0.0, 0.1, "[0, 0.1)"),
    ("float32 thirds", 0.33333334, 0.6666667, "[0.33333334, 0.6666667)"),
    ("written as buckets", 250, 500, "[250, 500)"),
    ("halves of a bucket", 0.0005, 0.9995, "[0.0005, 0.9995)"),
]


@pytest.mark.parametrize("start, end, shown", [r[1:] for r in RANGE_TEXTS],
                         ids=[r[0] for r in RANGE_TEXTS])
def test_legend_shows_ranges_as_written(write_config, start, end, shown):
    path = write_config({"k": record("f", [("v", start, end)])})
    cells = [text_of(td) for td in parse(orvane.report(path, now=NOW)).iter(f"{NS}td")
             if td.get("class") == "mono"]
    assert cells == [shown]


HOSTILE = "<script>alert('x')</script>"


def test_text_from_the_file_is_escaped(write_config):
    doc = {"k": record(HOSTILE, [(HOSTILE, 0.0, 0.5), ('"><b>', 0.5, 0.6)],
                       owner="&amp; <i>",
                       inner={"targeting": {"EQ": {"field": "<img src=x>", "value": HOSTILE}},
                              "overrides": [{"</li>": {"NE": {"field": "a", "value": "</ul>"}}}]}),
           "d": {"id": 8, "name": "cfg<", "enabled": True, "version": "1", "owner": "o",
                 "type": "dynamic_config", "value": {"<k>": HOSTILE}, "value_type": "Map",
                 "experiment": {"experiment_version": 1}}}
    page = orvane.report(write_config(doc), now=NOW)
    tree = parse(page)
    assert len(list(tree.iter(f"{NS}script"))) == 1  # the page's own filter
    assert not list(tree.iter(f"{NS}img")) and not list(tree.iter(f"{NS}i"))
    shown = text_of(tree)
    for text in (HOSTILE, "&amp; <i>", "<img src=x>", '"><b>', "</li>", "</ul>", "cfg<", "<k>"):
        assert text in shown
    (bar,) = bars(tree).values()
    assert bar.get("data-feature") == HOSTILE
    assert [v for _, _, v in segments(bar)] == [HOSTILE, '"><b>', None]


def write_pair(write_config, old, new):
    return write_config(old, "old.json"), write_config(new, "new.json")


CHANGES = [
    ("widen into the gap", [("on", 0.0, 0.1)], [("on", 0.0, 0.5)], {}),
    ("shift a boundary", [("c", 0.0, 0.5), ("t", 0.5, 1.0)], [("c", 0.0, 0.45), ("t", 0.45, 1.0)],
     {}),
    ("reseed", [("c", 0.0, 0.5), ("t", 0.5, 1.0)], [("c", 0.0, 0.5), ("t", 0.5, 1.0)],
     {"shuffle_version": 3}),
]


@pytest.mark.parametrize("old, new, inner", [c[1:] for c in CHANGES], ids=[c[0] for c in CHANGES])
def test_against_marks_the_buckets_that_change(write_config, old, new, inner):
    old_path, new_path = write_pair(write_config, {"k": record("f", old)},
                                    {"k": record("f", new, inner=inner)})
    (change,) = orvane.diff(old_path, new_path).features
    tree = parse(orvane.report(new_path, against=old_path, now=NOW))
    section = next(s for s in tree.iter(f"{NS}section") if s.get("data-name") == "f")
    moved, added = set(), set()
    for rect in section.iter(f"{SVG}rect"):
        span = range(int(rect.get("x")), int(rect.get("x")) + int(rect.get("width")))
        {"moved": moved, "added": added}.get(rect.get("class"), set()).update(span)
    assert moved == set(change.moved_buckets or ())
    assert added == set(change.newly_assigned_buckets)
    shown = text_of(section)
    assert ("reseeded by shuffle_version" in shown) is change.reseeded
    if not change.reseeded:
        assert f"{len(moved) / 10:.1f}% of users change variant" in shown
        assert set(bars(section, "before")) == {"f"}


def test_against_lists_added_and_removed_features(write_config):
    old_path, new_path = write_pair(
        write_config, {"a": record("gone", [("on", 0.0, 0.3)])},
        {"b": record("fresh", [("on", 0.0, 0.3)], id=9)})
    tree = parse(orvane.report(new_path, against=old_path, now=NOW))
    assert set(bars(tree, "removed")) == {"gone"}
    badges = {s.get("data-name"): text_of(s) for s in tree.iter(f"{NS}section")
              if s.get("data-name")}
    assert "added" in badges["fresh"]


def section_of(tree, name, index=0):
    return [s for s in tree.iter(f"{NS}section") if s.get("data-name") == name][index]


def test_against_shows_the_rules_and_value_before_the_edit(write_config):
    def config(country, value):
        return {"k": record("f", [("on", 0.0, 0.5)],
                            inner={"targeting": {"EQ": {"field": "country", "value": country}}}),
                "d": {"id": 8, "name": "d", "enabled": True, "version": "1", "owner": "o",
                      "type": "dynamic_config", "value": value, "value_type": "Integer",
                      "experiment": {"experiment_version": 1}}}

    old_path, new_path = write_pair(write_config, config("old-land", 111), config("new-land", 222))
    tree = parse(orvane.report(new_path, against=old_path, now=NOW))
    befores = {name: [text_of(d) for d in section_of(tree, name).iter(f"{NS}details")]
               for name in ("f", "d")}
    assert len(befores["f"]) == 1 and '"old-land"' in befores["f"][0]
    assert '"new-land"' not in befores["f"][0] and '"new-land"' in text_of(section_of(tree, "f"))
    assert len(befores["d"]) == 1 and "111" in befores["d"][0] and "222" not in befores["d"][0]


def test_a_name_given_twice_is_drawn_twice_and_flagged(write_config):
    path = write_config({"a": record("same", [("x", 0.0, 0.5)], id=1),
                         "b": record("same", [("y", 0.0, 0.5)], id=2)})
    tree = parse(orvane.report(path, now=NOW))
    first, second = section_of(tree, "same", 0), section_of(tree, "same", 1)
    assert "name given twice" not in text_of(first)
    assert "name given twice" in text_of(second)
    assert [v for _, _, v in segments(bars(first)["same"])][0] == "x"
    assert [v for _, _, v in segments(bars(second)["same"])][0] == "y"


DAY_MS = 86_400_000
SCHEDULES = [
    ("none set", 0, 0, "not set"),
    ("running", NOW * 1000 - DAY_MS, NOW * 1000 + DAY_MS, "(running)"),
    ("ended", NOW * 1000 - 2 * DAY_MS, NOW * 1000 - DAY_MS, "(ended)"),
    ("not started", NOW * 1000 + DAY_MS, NOW * 1000 + 2 * DAY_MS, "(not started)"),
    ("open end", NOW * 1000 - DAY_MS, 0, "to open (running)"),
]


@pytest.mark.parametrize("start, stop, shown", [s[1:] for s in SCHEDULES],
                         ids=[s[0] for s in SCHEDULES])
def test_schedule_is_judged_at_now(write_config, start, stop, shown):
    path = write_config({"k": record("f", [("on", 0.0, 0.5)], start_ts=start, stop_ts=stop)})
    facts = next(section_of(parse(orvane.report(path, now=NOW)), "f").iter(f"{NS}dl"))
    terms = [text_of(e) for e in facts]
    schedule = terms[terms.index("schedule") + 1]
    assert schedule.endswith(shown)


def group_nesting(tree):
    """{group: (parent group or None, [members drawn directly inside])}."""
    out = {}

    def walk(element, parent):
        for child in element:
            name = child.get("data-group")
            if name is not None:
                members = [text_of(m.find(f"{NS}a")) for m in child
                           if "member" in m.get("class", "").split()]
                out[name] = (parent, members)
                walk(child, name)
            else:
                walk(child, parent)

    walk(tree, None)
    return out


def test_groups_nest_members_and_show_their_own_split():
    tree = parse(orvane.report(EXAMPLE, now=NOW))
    nesting = group_nesting(tree)
    assert nesting["checkout_mutex"] == (
        None, ["checkout_button_color", "checkout_one_click", "checkout_express_pay"])
    assert nesting["global_holdout"][0] is None
    assert "search_ranking_v2" in nesting["global_holdout"][1]
    assert {"global_holdout", "checkout_mutex"} <= set(bars(tree, "group"))
    holdout_box = next(e for e in tree.iter() if e.get("data-group") == "global_holdout")
    assert ("Holds out 5.0% of users, marks 5.0% as controls, lets 90.0% on unmarked."
            in text_of(holdout_box))


def test_group_inside_a_group(write_config):
    doc = {"hg": record("hg", [("holdout", 0.0, 0.05), ("control_1", 0.05, 0.1)], id=1),
           "meg": record("meg", [("m1", 0.0, 0.5), ("m2", 0.5, 1.0)], id=2,
                         parent_hg_name="hg"),
           "m1": record("m1", [("on", 0.0, 1.0)], id=3, parent_meg_name="meg"),
           "m2": record("m2", [("on", 0.0, 1.0)], id=4, parent_meg_name="meg")}
    nesting = group_nesting(parse(orvane.report(write_config(doc), now=NOW)))
    assert nesting == {"hg": (None, []), "meg": ("hg", ["m1", "m2"])}


def test_a_long_chain_of_groups_is_drawn_in_shallow_pieces(write_config):
    chain = 15
    doc = {f"g{i}": record(f"g{i}", [("holdout", 0.0, 0.01), ("control_1", 0.01, 0.02)],
                           id=i, **({"parent_hg_name": f"g{i - 1}"} if i else {}))
           for i in range(chain)}
    doc["f"] = record("f", [("on", 0.0, 1.0)], id=99, parent_hg_name=f"g{chain - 1}")
    nesting = group_nesting(parse(orvane.report(write_config(doc), now=NOW)))
    assert sorted(nesting) == sorted(f"g{i}" for i in range(chain))
    for i in range(1, chain):
        drawn_in, _ = nesting[f"g{i}"]
        # Inside its group, or drawn anew and listed as a member of that group.
        assert drawn_in == f"g{i - 1}" or (drawn_in is None and f"g{i}" in nesting[f"g{i - 1}"][1])

    def depth(name):
        return 0 if nesting[name][0] is None else 1 + depth(nesting[name][0])

    assert max(depth(n) for n in nesting) < 6
    assert nesting[f"g{chain - 1}"][1] == ["f"]


def test_a_file_that_does_not_load_still_gets_a_page(write_config):
    path = write_config('{"k": {"id": 1}}')
    tree = parse(orvane.report(path, now=NOW))
    shown = text_of(tree)
    assert "Does not load" in shown and pyorvane.init(STAGES, path).err() in shown
    assert not bars(tree)


@pytest.mark.parametrize(
    "output, argv_tail, code, wrote",
    [("report.html", [], 0, True), ("report.html", ["--against", "{example}"], 0, True),
     ("report.html", ["--against", "{missing}"], 1, False),
     ("no-such-dir/report.html", [], 1, False)],
    ids=["plain", "against", "against a missing file", "unwritable output"])
def test_command(tmp_path, capsys, output, argv_tail, code, wrote):
    out = tmp_path / output
    tail = [a.format(example=EXAMPLE, missing=tmp_path / "nope.json") for a in argv_tail]
    assert main(["report", EXAMPLE, "-o", str(out), "--now", str(NOW), *tail]) == code
    assert out.exists() is wrote
    err = capsys.readouterr().err
    if wrote:
        assert out.read_text(encoding="utf-8") == orvane.report(
            EXAMPLE, against=EXAMPLE if tail else None, now=NOW)
        against = f" Against {EXAMPLE}: 0 changed, 0 added, 0 removed." if tail else ""
        assert err == f"Wrote {out}: 2 notes in 17 records. Ready to ship.{against}\n"
    else:
        assert err.startswith("orvane report: ") and ("nope.json" in err or output in err)


def chromium():
    for name in ("chromium", "chromium-browser", "google-chrome"):
        if shutil.which(name):
            return shutil.which(name)
    return None


def browser():
    found = chromium()
    if found is None:
        # scripts/test.sh installs it and sets ORVANE_REQUIRE_BROWSER, so CI never skips.
        if os.environ.get("ORVANE_REQUIRE_BROWSER"):
            pytest.fail("chromium is not installed")
        pytest.skip("needs Debian's chromium (apt-get install chromium)")
    return found


def rendered(tmp_path, script):
    """The example's page after Chromium ran it with `script` added at its end: the DOM
    it then holds."""
    page = tmp_path / "rendered.html"
    page.write_text(orvane.report(EXAMPLE, now=NOW).replace("</body>", script + "</body>"),
                    encoding="utf-8")
    run = subprocess.run([browser(), "--headless", "--no-sandbox", "--disable-gpu",
                          "--window-size=1200,1600", "--dump-dom", page.as_uri()],
                         capture_output=True, text=True, timeout=120)
    assert run.returncode == 0, run.stderr
    return html5lib.parse(run.stdout)


def test_example_renders_in_a_browser(tmp_path):
    page = tmp_path / "report.html"
    page.write_text(orvane.report(EXAMPLE, now=NOW), encoding="utf-8")
    artifacts = pathlib.Path(os.environ.get("ORVANE_TEST_ARTIFACTS", tmp_path))
    artifacts.mkdir(parents=True, exist_ok=True)
    shot = artifacts / "report-example.png"
    run = subprocess.run(
        [browser(), "--headless", "--no-sandbox", "--disable-gpu", "--hide-scrollbars",
         "--enable-logging=stderr", "--v=0", "--window-size=1200,1600",
         f"--screenshot={shot}", page.as_uri()],
        capture_output=True, text=True, timeout=120)
    assert run.returncode == 0, run.stderr
    # Chromium logs every console message, an uncaught error among them, as CONSOLE.
    assert [line for line in run.stderr.splitlines() if "CONSOLE" in line] == []
    data = shot.read_bytes()
    assert data[:8] == b"\x89PNG\r\n\x1a\n"
    assert struct.unpack(">II", data[16:24]) == (1200, 1600)
    # Each bar as laid out: its box, and its segments side by side across its width.
    measure = ("<script>document.querySelectorAll('.bar svg').forEach(function (svg) {"
               "var box = svg.getBoundingClientRect(), covered = 0;"
               "svg.querySelectorAll('rect').forEach(function (r) {"
               "covered += r.getBoundingClientRect().width; });"
               "svg.parentNode.setAttribute('data-drawn', box.width + ' ' + box.height + ' ' "
               "+ covered + ' ' + getComputedStyle(svg).visibility); });</script>")
    drawn = {bar.get("data-feature"): bar.get("data-drawn").split()
             for bar in bars(rendered(tmp_path, measure)).values()}
    assert drawn and set(drawn) == set(bars(parse(page.read_text(encoding="utf-8"))))
    for name, (width, height, covered, visibility) in drawn.items():
        assert float(width) > 600 and float(height) > 20 and visibility == "visible", name
        assert abs(float(covered) - float(width)) < 3, name


def test_search_box_filters_features_by_name(tmp_path):
    # Types into the box as a reader would, then reads which entries the page hid.
    typing = ('<script>var box = document.getElementById("search"); box.value = "CHECKOUT_";'
              'box.dispatchEvent(new Event("input"));</script>')
    entries = [(e.get("data-name"), e.get("hidden") is not None)
               for e in rendered(tmp_path, typing).iter() if e.get("data-name") is not None]
    names = _native.feature_names(pyorvane.init(STAGES, EXAMPLE))
    # Each feature twice: its entry in the contents and its section.
    assert sorted(entries) == sorted([(n, "checkout_" not in n) for n in names] * 2)
