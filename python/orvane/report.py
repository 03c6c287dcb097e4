"""A configuration as one page to look at: `orvane.report`.

`report` writes a self-contained HTML document (inline CSS, SVG and a few lines of script;
nothing fetched) that a reviewer can open from disk or attach to a review: the findings
of `orvane.check` at the top and beside their features, every feature with its split as
a bar over the 1,000 buckets, its targeting and overrides as nested rules and its value,
and the holdout and mutex groups drawn as nested boxes. With `against`, the bars show
what `orvane.diff` finds: the buckets that change variant, the share moved, the reseeds.

The bars come from the engine's own range test (through `orvane._native`), so what is
drawn is what the bucketing stage does; everything taken from the file is escaped.
"""

from __future__ import annotations

import collections
import gc
import os
from collections.abc import Iterator, Mapping
from typing import Any, Deque

from . import _native
from ._report_parts import (MAX_GROUP_DEPTH, Colours, bar, change_text, changes_block,
                            diff_counts, esc, facts_block, finding_items, holdout_words,
                            legend_table, moment_text, share_text, targeting_block,
                            value_block, verdict_text)
from ._report_style import DEFS, SCRIPT, STYLE
from ._stages import DEFAULT_STAGES, read_and_load
from .check import CheckReport, Finding, Moment, _epoch_ms, check_loaded
from .diff import DiffReport, FeatureDiff, diff_loaded

__all__ = ["report"]


class _Page:
    """One report, section by section: what is known about the file is sorted once here
    (anchors, findings and changes by feature name) and each section reads it."""

    def __init__(self, path: str, checked: CheckReport, forms: list[dict[str, Any]],
                 changes: DiffReport | None, old_forms: list[dict[str, Any]], now_ms: int,
                 load_error: str | None) -> None:
        self.path = path
        self.checked = checked
        self.forms = forms
        self.changes = changes
        self.now_ms = now_ms
        self.load_error = load_error
        self.anchors: dict[str, str] = {}
        for i, form in enumerate(forms):
            self.anchors.setdefault(form["name"], f"f{i}")
        self.old_by_name: dict[str, dict[str, Any]] = {}
        for form in old_forms:
            self.old_by_name.setdefault(form["name"], form)
        self.change_by_name: dict[str, FeatureDiff] = {}
        if changes is not None:
            for c in changes.features:
                self.change_by_name.setdefault(c.feature, c)
        self.findings_by_name: dict[str, list[Finding]] = {}
        self.general: list[Finding] = []
        for f in checked.findings:
            if f.feature is not None and f.feature in self.anchors:
                self.findings_by_name.setdefault(f.feature, []).append(f)
            else:
                self.general.append(f)

    def render(self) -> Iterator[str]:
        title = f"Orvane report: {os.path.basename(self.path)}"
        yield ('<!DOCTYPE html>\n<html lang="en"><head><meta charset="utf-8">'
               '<meta name="viewport" content="width=device-width, initial-scale=1">'
               f"<title>{esc(title)}</title><style>{STYLE}</style></head><body>")
        yield DEFS
        yield from self._header()
        yield from self._contents()
        yield "<main>"
        if self.changes is not None:
            yield from self._diff_summary()
        yield from self._groups()
        yield '<h2 id="features">Features</h2>'
        for i, form in enumerate(self.forms):
            yield self._feature(i, form)
        if self.changes is not None:
            yield from self._removed()
        yield f"</main><script>{SCRIPT}</script></body></html>\n"

    def _header(self) -> Iterator[str]:
        verdict, ready = verdict_text(self.checked)
        yield (f"<header><h1>Configuration {esc(self.path)}</h1>"
               f'<div class="verdict {"ok" if ready else "bad"}">{esc(verdict)}</div>')
        if self.load_error is not None:
            yield f'<div class="load-error">Load error: <code>{esc(self.load_error)}</code></div>'
        types: dict[str, int] = {}
        for form in self.forms:
            types[form["type"]] = types.get(form["type"], 0) + 1
        counts = "".join(f"<span>{n:,} {esc(t)}</span>" for t, n in sorted(types.items()))
        yield (f'<div class="counts"><span>{len(self.forms):,} features</span>{counts}</div>'
               f'<div class="muted">Schedules judged at {moment_text(self.now_ms)}.</div>')
        if self.general:
            yield "<h2>Findings</h2>" + finding_items(self.general, self.path, True)
        yield "</header>"

    def _contents(self) -> Iterator[str]:
        yield ('<nav aria-label="contents"><h2>Contents</h2>'
               '<input id="search" type="search" placeholder="Filter features by name" '
               'aria-label="Filter features by name"><ol>')
        for i, form in enumerate(self.forms):
            marks = ""
            found = self.findings_by_name.get(form["name"])
            if found and self.anchors[form["name"]] == f"f{i}":
                worst = min(found, key=lambda f: ("error", "warning", "info").index(f.severity))
                marks += f' <span class="badge {worst.severity}">{len(found)}</span>'
            change = self.change_by_name.get(form["name"])
            if change is not None and change.change != "unchanged":
                marks += f' <span class="badge {change.change}">{change.change}</span>'
            yield (f'<li data-name="{esc(form["name"])}"><a href="#f{i}">{esc(form["name"])}'
                   f"</a>{marks}</li>")
        yield "</ol></nav>"

    def _diff_summary(self) -> Iterator[str]:
        assert self.changes is not None
        shown = [c for c in self.changes.features if c.change != "unchanged"]
        unchanged = len(self.changes.features) - len(shown)
        yield (f'<h2 id="changes">Changes against {esc(self.changes.old)}</h2>'
               f"<p>{esc(diff_counts(self.changes))}, {unchanged:,} unchanged.</p>")
        if not shown:
            return
        yield '<table class="changes-table"><tr><th>feature</th><th>change</th></tr>'
        for c in shown:
            anchor = self.anchors.get(c.feature)
            name = (f'<a href="#{anchor}">{esc(c.feature)}</a>' if anchor and c.change != "removed"
                    else esc(c.feature))
            yield f"<tr><td>{name}</td><td>{change_text(c)}</td></tr>"
        yield "</table>"

    def _removed(self) -> Iterator[str]:
        assert self.changes is not None
        removed = [c for c in self.changes.features if c.change == "removed"]
        if not removed:
            return
        yield '<h2 id="removed">Removed features</h2>'
        for c in removed:
            old = self.old_by_name.get(c.feature)
            body = ""
            if old is not None and old["variant_set"] is not None:
                body = bar(old["variant_set"], Colours(), "removed", c.feature, "before the edit")
            yield (f'<section class="feature removed"><header><h3>{esc(c.feature)}</h3>'
                   f'<span class="badge removed">removed</span></header>{body}</section>')

    def _feature(self, i: int, form: Mapping[str, Any]) -> str:
        name = form["name"]
        first = self.anchors[name] == f"f{i}"
        parts = [f'<section class="feature" id="f{i}" data-name="{esc(name)}">'
                 f'<header><h3>{esc(name)}</h3><span class="badge">{esc(form["type"])}</span>']
        if not form["enabled"]:
            parts.append('<span class="badge warning">disabled</span>')
        if not first:
            parts.append('<span class="badge warning">name given twice: lookups find '
                         f'<a href="#{self.anchors[name]}">the first</a></span>')
        parts.append("</header>")
        parts.append(facts_block(form, self.anchors, self.now_ms))
        change = self.change_by_name.get(name) if first else None
        vs = form["variant_set"]
        old = self.old_by_name.get(name)
        colours = Colours(v["name"] for v in (vs["variants"] if vs else ()))
        strip = False
        if change is not None and change.change != "unchanged":
            block, strip = changes_block(change, old, colours, name)
            parts.append(block)
        if vs is not None:
            parts.append(bar(vs, colours, "feature", name,
                              "after the edit" if strip else None,
                              change if strip else None))
            parts.append('<div class="axis"><span>0</span><span>250</span><span>500</span>'
                         '<span>750</span><span>999</span></div>')
            parts.append(legend_table(vs, colours))
        parts.append(targeting_block(form))
        parts.append(value_block(form))
        found = self.findings_by_name.get(name) if first else None
        if found:
            parts.append(finding_items(found, self.path))
        parts.append("</section>")
        return "".join(parts)

    def _groups(self) -> Iterator[str]:
        """Holdout and mutex groups as boxes holding their members, a member sitting in
        its mutex group when it has one (the group that picks it) and otherwise in its
        holdout group; a group sits in its own groups the same way."""
        groups: dict[str, dict[str, Any]] = {}
        kinds: dict[str, set[str]] = {}
        parent_of: dict[str, str] = {}
        members: dict[str, list[str]] = {}
        extra_holdout: dict[str, str] = {}

        def place(form: Mapping[str, Any]) -> None:
            vs = form["variant_set"]
            if vs is None or form["name"] in parent_of:
                return
            hg, meg = vs["holdout"], vs["mutex_group"]
            for group, kind in ((hg, "holdout"), (meg, "mutex")):
                if group is not None:
                    groups.setdefault(group["name"], group)
                    kinds.setdefault(group["name"], set()).add(kind)
            container = meg or hg
            if container is None:
                return
            parent_of[form["name"]] = container["name"]
            members.setdefault(container["name"], []).append(form["name"])
            if meg is not None and hg is not None:
                extra_holdout[form["name"]] = hg["name"]

        # Every group is a record of the file too, so placing the features places them all.
        for form in self.forms:
            place(form)
        if not groups:
            return
        yield ('<h2 id="groups">Groups</h2><p class="muted">Each holdout and mutex group with '
               'its own split and the features it holds. A holdout group holds out the '
               'users in its <code>holdout</code> variant and lets those in '
               '<code>control_1</code> through marked as controls; a mutex group lets a '
               'member through for the buckets of the variant named after it.</p>')
        # Boxes deeper than MAX_GROUP_DEPTH would leave their members no width: such a
        # group is drawn again from the left margin, after the box it sits in.
        boxes = collections.deque(n for n in groups if n not in parent_of)
        while boxes:
            yield from self._group_box(boxes.popleft(), groups, kinds, members, extra_holdout,
                                       0, boxes, parent_of)

    def _group_box(self, name: str, groups: Mapping[str, Mapping[str, Any]],
                   kinds: Mapping[str, set[str]], members: Mapping[str, list[str]],
                   extra_holdout: Mapping[str, str], depth: int, deferred: Deque[str],
                   parent_of: Mapping[str, str]) -> Iterator[str]:
        group = groups[name]
        kind = "mutex" if "mutex" in kinds[name] else "holdout"
        label = " and ".join(f"{k} group" for k in sorted(kinds[name]))
        anchor = self.anchors.get(name)
        title = f'<a href="#{anchor}">{esc(name)}</a>' if anchor else esc(name)
        inside = ""
        if depth == 0 and name in parent_of:
            inside = f", inside {self._member_link(parent_of[name])}"
        yield (f'<div class="group {kind}" data-group="{esc(name)}"><h4>{title} '
               f'<span class="muted">({label}{inside})</span></h4>')
        vs = group["variant_set"]
        if vs is not None:
            yield bar(vs, Colours(v["name"] for v in vs["variants"]), "group", name)
            if "holdout" in kinds[name]:
                yield f'<div class="muted">{holdout_words(vs)}</div>'
        for member in members.get(name, ()):
            if member in groups:
                if depth + 1 < MAX_GROUP_DEPTH:
                    yield from self._group_box(member, groups, kinds, members, extra_holdout,
                                               depth + 1, deferred, parent_of)
                else:
                    deferred.append(member)
                    yield (f'<div class="member">{self._member_link(member)} '
                           '(a group, drawn below)</div>')
                continue
            note = ""
            if member in extra_holdout:
                note = (f' <span class="muted">(and in holdout group '
                        f'{esc(extra_holdout[member])})</span>')
            admitted = ""
            if kind == "mutex" and vs is not None:
                names = [v["name"] for v in vs["variants"]]
                share = sum(stop - first for first, stop, index in vs["bucket_runs"]
                            if index >= 0 and names[index] == member)
                admitted = f' <span class="muted">gets {share_text(share)} of the group</span>'
            yield f'<div class="member">{self._member_link(member)}{admitted}{note}</div>'
        yield "</div>"

    def _member_link(self, name: str) -> str:
        anchor = self.anchors.get(name)
        return f'<a href="#{anchor}">{esc(name)}</a>' if anchor else esc(name)


def report(path: str | os.PathLike[str], stages: str | None = None,
           against: str | os.PathLike[str] | None = None, *, now: Moment = None) -> str:
    """The HTML report of the configuration file at `path`, as one self-contained page.

    The file is loaded and checked with `stages` (the usual chain when None) as
    `orvane.check` does, judging schedules at `now`; a file that does not load still
    gets a page with its load error and findings. With `against` (the configuration
    before an edit) the page also shows what `orvane.diff(against, path)` finds, and
    raises DiffError when either file does not load.
    """
    return report_with_summary(path, stages, against, now=now)[0]


def report_with_summary(path: str | os.PathLike[str], stages: str | None = None,
                        against: str | os.PathLike[str] | None = None, *,
                        now: Moment = None) -> tuple[str, str]:
    """The page of `report` and one line saying what it found, for the command."""
    # The page is built from millions of short-lived dicts, lists and strings, none in a
    # cycle; the collector's passes over them would take longer than building the page.
    enabled = gc.isenabled()
    gc.disable()
    try:
        return _report(path, stages, against, now)
    finally:
        if enabled:
            gc.enable()


def _report(path: str | os.PathLike[str], stages: str | None,
            against: str | os.PathLike[str] | None, now: Moment) -> tuple[str, str]:
    chain = DEFAULT_STAGES if stages is None else stages
    now_ms = _epoch_ms(now)
    data, engine = read_and_load(path, chain)
    changes, old_forms = None, []
    if against is not None:
        old_loaded = read_and_load(against, chain)
        changes = diff_loaded(against, old_loaded, path, (data, engine), chain)
        old_forms = _native.report_features(old_loaded[1])
    checked = check_loaded(path, data, engine, stages, now_ms)
    load_error = engine.err()
    forms = _native.report_features(engine) if load_error is None else []
    page = _Page(os.fspath(path), checked, forms, changes, old_forms, now_ms, load_error)
    summary = verdict_text(checked)[0]
    if changes is not None:
        summary += f" Against {changes.old}: {diff_counts(changes)}."
    return "".join(page.render()), summary
