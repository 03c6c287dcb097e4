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

import datetime
import html
import json
import os
from collections.abc import Iterable, Iterator, Mapping, Sequence
from typing import Any

from . import _native
from ._stages import DEFAULT_STAGES, read_and_load
from .check import CheckReport, Finding, Moment, _epoch_ms, check
from .diff import DiffReport, FeatureDiff, diff

__all__ = ["report"]

BUCKETS = 1000

# Colours of the variants of one bar, in order; a bar with more variants starts over.
_PALETTE = ("#4e79a7", "#f28e2b", "#59a14f", "#e15759", "#76b7b2", "#b8860b", "#b07aa1",
            "#d37295", "#9c755f", "#6b6ecf")

# Group chains deeper than this are listed rather than drawn inside one another.
_MAX_GROUP_DEPTH = 24

_STYLE = """
:root { --ink: #1d232a; --muted: #5f6b76; --line: #d5dbe1; --paper: #fff; --soft: #f4f6f8;
  --error: #b3261e; --warning: #9a6700; --info: #0b6e99; --moved: #d62728; --added: #2ca02c; }
* { box-sizing: border-box; }
body { margin: 0; font: 14px/1.45 system-ui, -apple-system, "Segoe UI", sans-serif;
  color: var(--ink); background: var(--paper); }
header, main, nav { max-width: 1100px; margin: 0 auto; padding: 0 20px; }
header { padding-top: 20px; }
h1 { font-size: 22px; margin: 0 0 4px; }
h2 { font-size: 18px; margin: 28px 0 8px; }
h3 { font-size: 16px; margin: 0; word-break: break-all; }
code, pre, .mono { font-family: ui-monospace, "SFMono-Regular", Menlo, Consolas, monospace;
  font-size: 12.5px; }
pre { background: var(--soft); padding: 8px; overflow-x: auto; margin: 4px 0; }
.muted { color: var(--muted); }
.verdict { font-weight: 600; padding: 8px 12px; border-radius: 6px; margin: 8px 0; }
.verdict.ok { background: #e6f4ea; } .verdict.bad { background: #fce8e6; }
.counts span { margin-right: 14px; }
nav { margin-top: 12px; }
nav ol { columns: 3 220px; padding-left: 20px; margin: 6px 0; }
nav li { break-inside: avoid; word-break: break-all; }
#search { width: 100%; max-width: 420px; padding: 6px 8px; font: inherit;
  border: 1px solid var(--line); border-radius: 6px; }
.feature { border: 1px solid var(--line); border-radius: 8px; padding: 12px 14px;
  margin: 14px 0; }
.feature > header { display: flex; gap: 10px; align-items: baseline; flex-wrap: wrap;
  padding: 0; margin: 0 0 6px; max-width: none; }
.badge { display: inline-block; font-size: 12px; padding: 0 6px; border-radius: 9px;
  background: var(--soft); border: 1px solid var(--line); }
.badge.error { color: var(--error); border-color: var(--error); }
.badge.warning { color: var(--warning); border-color: var(--warning); }
.badge.info { color: var(--info); border-color: var(--info); }
.badge.changed, .badge.reseeded { color: var(--moved); border-color: var(--moved); }
.badge.added { color: var(--added); border-color: var(--added); }
.badge.removed { color: var(--muted); }
dl.facts { display: grid; grid-template-columns: max-content 1fr; gap: 2px 14px; margin: 6px 0; }
dl.facts dt { color: var(--muted); } dl.facts dd { margin: 0; word-break: break-all; }
.bar { position: relative; margin: 6px 0 2px; }
.bar svg { display: block; width: 100%; height: 26px; border: 1px solid var(--line); }
.bar .labels { position: absolute; left: 0; right: 0; top: 0; height: 28px; pointer-events: none; }
.bar .labels span { position: absolute; top: 5px; padding: 0 4px; overflow: hidden;
  white-space: nowrap; text-overflow: ellipsis; color: #fff; font-size: 12px;
  text-shadow: 0 0 2px #000; }
.bar .labels span.gap { color: var(--ink); text-shadow: 0 0 2px #fff; }
.bar-title { font-size: 12px; color: var(--muted); margin-top: 6px; }
.axis { display: flex; justify-content: space-between; font-size: 11px; color: var(--muted); }
svg.changes { display: block; width: 100%; height: 10px; }
table.legend { border-collapse: collapse; margin: 4px 0 6px; font-size: 13px; }
table.legend td, table.legend th { padding: 1px 10px 1px 0; text-align: left; }
table.legend td.num { text-align: right; font-variant-numeric: tabular-nums; }
.swatch { display: inline-block; width: 10px; height: 10px; margin-right: 5px;
  vertical-align: middle; }
ul.rules, ul.rules ul { list-style: none; margin: 2px 0; padding-left: 18px;
  border-left: 2px solid var(--line); }
ul.rules li { margin: 1px 0; word-break: break-all; }
.op { font-weight: 600; color: var(--info); }
ol.overrides { margin: 4px 0; padding-left: 22px; }
ul.findings { list-style: none; padding: 0; margin: 6px 0; }
ul.findings li { border-left: 3px solid var(--line); padding: 2px 8px; margin: 4px 0; }
ul.findings li.error { border-color: var(--error); }
ul.findings li.warning { border-color: var(--warning); }
ul.findings li.info { border-color: var(--info); }
.hint { color: var(--muted); }
.group { border: 2px solid var(--line); border-radius: 8px; padding: 8px 10px; margin: 8px 0; }
.group.holdout { border-color: #8e6c8a; background: #faf6fa; }
.group.mutex { border-color: #4e79a7; background: #f5f8fc; }
.group .member { border: 1px dashed var(--line); border-radius: 6px; padding: 4px 8px;
  margin: 6px 0; background: var(--paper); }
.group h4 { margin: 0; font-size: 14px; word-break: break-all; }
table.changes-table { border-collapse: collapse; }
table.changes-table td, table.changes-table th { padding: 2px 10px 2px 0; text-align: left;
  vertical-align: top; }
.load-error { background: #fce8e6; padding: 8px 12px; border-radius: 6px; }
[hidden] { display: none !important; }
@media print {
  nav, #search { display: none; }
  body { font-size: 11px; }
  .feature, .group { break-inside: avoid; }
  * { print-color-adjust: exact; -webkit-print-color-adjust: exact; }
  a { color: inherit; text-decoration: none; }
}
"""

# Filters the features and the table of contents by name as the reader types.
_SCRIPT = """
(function () {
  var box = document.getElementById("search");
  if (!box) return;
  var items = document.querySelectorAll("[data-name]");
  box.addEventListener("input", function () {
    var wanted = box.value.trim().toLowerCase();
    for (var i = 0; i < items.length; i++) {
      var name = items[i].getAttribute("data-name").toLowerCase();
      items[i].hidden = wanted !== "" && name.indexOf(wanted) < 0;
    }
  });
})();
"""

# The hatching of buckets no range holds, defined once and used by every bar.
_DEFS = ('<svg width="0" height="0" style="position:absolute" aria-hidden="true"><defs>'
         '<pattern id="gap" width="8" height="8" patternUnits="userSpaceOnUse" '
         'patternTransform="rotate(45)"><rect width="8" height="8" fill="#eef0f2"/>'
         '<line x1="0" y1="0" x2="0" y2="8" stroke="#b9c0c7" stroke-width="3"/></pattern>'
         '</defs></svg>')

_TREE_SIGNS = {"NE": "≠", "GT": ">", "LT": "<", "GE": "≥", "LE": "≤"}


def esc(value: object) -> str:
    """Anything taken from the file, made safe as text or inside a quoted attribute."""
    return html.escape(str(value), quote=True)


def _share(buckets: int) -> str:
    # A thousand buckets make every share a whole tenth of a percent.
    return f"{buckets // 10}.{buckets % 10}%"


def _json_text(value: Any) -> str:
    return json.dumps(value, ensure_ascii=False)


def _number_text(value: float) -> str:
    return str(int(value)) if float(value).is_integer() and abs(value) < 1e15 else repr(value)


def _range_end(value: float) -> str:
    # The ends are 32-bit floats widened exactly; show them as written (0.1, not 0.1000000015).
    return f"{value:.7g}"


def _moment(ms: int) -> str:
    try:
        when = datetime.datetime.fromtimestamp(ms / 1000, tz=datetime.timezone.utc)
    except (OverflowError, OSError, ValueError):
        return f"{ms} ms"
    return when.strftime("%Y-%m-%d %H:%M UTC")


def _runs_of(buckets: Iterable[int]) -> list[tuple[int, int]]:
    """Ascending buckets as (first, stop) runs."""
    runs: list[tuple[int, int]] = []
    for b in sorted(buckets):
        if runs and runs[-1][1] == b:
            runs[-1] = (runs[-1][0], b + 1)
        else:
            runs.append((b, b + 1))
    return runs


def _run_text(first: int, stop: int) -> str:
    return str(first) if stop - first == 1 else f"{first}-{stop - 1}"


class _Colours:
    """One colour per variant name, kept across the bars of one feature (before and after)."""

    def __init__(self, names: Iterable[str] = ()) -> None:
        self._by_name: dict[str, str] = {}
        for name in names:
            self(name)

    def __call__(self, name: str) -> str:
        if name not in self._by_name:
            self._by_name[name] = _PALETTE[len(self._by_name) % len(_PALETTE)]
        return self._by_name[name]


def _bar(variant_set: Mapping[str, Any], colours: _Colours, role: str, feature: str,
         title: str | None = None, changes: FeatureDiff | None = None) -> str:
    """One feature's split over the buckets: a segment per run of buckets with one
    variant, hatched where no range holds them, labelled with name and share."""
    names = [v["name"] for v in variant_set["variants"]]
    runs = variant_set["bucket_runs"]
    covered = sum(stop - first for first, stop, index in runs if index >= 0)
    parts = [f'<div class="bar-title">{esc(title)}</div>' if title else "",
             f'<div class="bar" data-role="{role}" data-feature="{esc(feature)}" '
             f'data-covered="{covered}">',
             f'<svg viewBox="0 0 {BUCKETS} 24" preserveAspectRatio="none" role="img" '
             f'aria-label="{esc(_bar_words(names, runs))}">']
    labels = []
    for first, stop, index in runs:
        width = stop - first
        where = f"buckets {_run_text(first, stop)}, {_share(width)}"
        if index >= 0:
            name = names[index]
            parts.append(f'<rect class="seg" x="{first}" y="0" width="{width}" height="24" '
                         f'fill="{colours(name)}" data-variant="{esc(name)}" '
                         f'data-buckets="{width}"><title>{esc(name)}: {where}</title></rect>')
            label, cls = f"{name} {_share(width)}", ""
        else:
            parts.append(f'<rect class="gap" x="{first}" y="0" width="{width}" height="24" '
                         f'fill="url(#gap)" data-buckets="{width}"><title>no variant: '
                         f'{where}</title></rect>')
            label, cls = f"none {_share(width)}", ' class="gap"'
        labels.append(f'<span{cls} style="left:{first / 10}%;width:{width / 10}%">'
                      f'{esc(label)}</span>')
    parts.append("</svg>")
    parts.append(f'<div class="labels" aria-hidden="true">{"".join(labels)}</div></div>')
    if changes is not None:
        parts.append(_change_strip(changes))
    return "".join(parts)


def _bar_words(names: Sequence[str], runs: Sequence[Sequence[int]]) -> str:
    words = []
    for first, stop, index in runs:
        words.append(f"{names[index] if index >= 0 else 'no variant'} "
                     f"{_run_text(first, stop)}")
    return "buckets: " + ", ".join(words)


def _change_strip(changes: FeatureDiff) -> str:
    """The buckets whose users change variant (red) or newly get one (green), drawn under
    the new bar at the same scale."""
    rects = []
    for cls, buckets, what in (("moved", changes.moved_buckets or (), "change variant"),
                               ("added", changes.newly_assigned_buckets, "newly get one")):
        for first, stop in _runs_of(buckets):
            rects.append(f'<rect class="{cls}" x="{first}" y="0" width="{stop - first}" '
                         f'height="10" fill="var(--{cls})" data-buckets="{stop - first}">'
                         f'<title>buckets {_run_text(first, stop)}: {what}</title></rect>')
    return (f'<svg class="changes" viewBox="0 0 {BUCKETS} 10" preserveAspectRatio="none" '
            f'role="img" aria-label="changed buckets">'
            f'<rect x="0" y="0" width="{BUCKETS}" height="10" fill="#f4f6f8"/>'
            f'{"".join(rects)}</svg>')


def _legend(variant_set: Mapping[str, Any], colours: _Colours) -> str:
    """The ranges as written next to the buckets each variant really gets (a range that
    an earlier one overlaps gets fewer)."""
    held = [0] * len(variant_set["variants"])
    gap = 0
    for first, stop, index in variant_set["bucket_runs"]:
        if index >= 0:
            held[index] += stop - first
        else:
            gap += stop - first
    rows = ['<table class="legend"><tr><th>variant</th><th>range</th><th>buckets</th>'
            '<th>share</th></tr>']
    for variant, count in zip(variant_set["variants"], held):
        rows.append(f'<tr><td><span class="swatch" style="background:{colours(variant["name"])}">'
                    f'</span>{esc(variant["name"])}</td><td class="mono">'
                    f'[{_range_end(variant["range_start"])}, {_range_end(variant["range_end"])})'
                    f'</td><td class="num">{count}</td><td class="num">{_share(count)}</td></tr>')
    if gap:
        rows.append(f'<tr><td class="muted">no variant</td><td></td><td class="num">{gap}</td>'
                    f'<td class="num">{_share(gap)}</td></tr>')
    rows.append("</table>")
    return "".join(rows)


def _rule(tree: Mapping[str, Any]) -> str:
    """A targeting tree as nested list items: ALL/ANY/NOT as headings over their
    children, each condition on one line."""
    ((op, arg),) = tree.items()
    if op in ("ALL", "ANY"):
        words = "all of" if op == "ALL" else "any of"
        if not arg:
            return f'<li><span class="op">{op}</span> {words}: (nothing)</li>'
        children = "".join(_rule(child) for child in arg)
        return f'<li><span class="op">{op}</span> {words}:<ul>{children}</ul></li>'
    if op == "NOT":
        return f'<li><span class="op">NOT</span>:<ul>{_rule(arg)}</ul></li>'
    field = f'<code>{esc(arg["field"])}</code>'
    if op == "EQ" and "values" in arg:
        values = ", ".join(esc(_json_text(v)) for v in arg["values"])
        return f'<li>{field} <span class="op">in</span> <code>[{values}]</code></li>'
    if op == "EQ":
        value = esc(_json_text(arg["value"]))
        return f'<li>{field} <span class="op">=</span> <code>{value}</code></li>'
    value = arg["value"]
    shown = _number_text(value) if isinstance(value, float) else _json_text(value)
    return (f'<li>{field} <span class="op">{_TREE_SIGNS.get(op, esc(op))}</span> '
            f'<code>{esc(shown)}</code></li>')


def _targeting(form: Mapping[str, Any]) -> str:
    parts = []
    if form["targeting"] is None:
        parts.append('<p class="muted">Targeting: everyone.</p>')
    else:
        parts.append(f'<div>Targeting: requests where</div><ul class="rules">'
                     f'{_rule(form["targeting"])}</ul>')
    if form["overrides"]:
        items = []
        for overrides in form["overrides"]:
            for variant, tree in overrides.items():
                items.append(f'<li>variant <b>{esc(variant)}</b> when<ul class="rules">'
                             f'{_rule(tree)}</ul></li>')
        parts.append('<div>Overrides, the first that matches wins:</div>'
                     f'<ol class="overrides">{"".join(items)}</ol>')
    return "".join(parts)


def _finding_items(findings: Sequence[Finding], file: str, with_feature: bool = False) -> str:
    items = []
    for f in findings:
        place = f"{file}:{f.line}:{f.column}" if f.line is not None else (
            file if f.key is not None else "--stages")
        subject = f"{f.feature}: " if with_feature and f.feature is not None else ""
        hint = f'<div class="hint">hint: {esc(f.hint)}</div>' if f.hint else ""
        items.append(f'<li class="{f.severity}"><span class="badge {f.severity}">'
                     f'{f.severity}</span> <code>{esc(f.code)}</code> '
                     f'<span class="mono muted">{esc(place)}</span><div>{esc(subject)}'
                     f'{esc(f.message)}</div>{hint}</li>')
    return f'<ul class="findings">{"".join(items)}</ul>'


def _verdict(checked: CheckReport) -> tuple[str, bool]:
    """The first line of the page, the answer to "can this ship?"."""
    counts = []
    for severity, word in (("error", "error"), ("warning", "warning"), ("info", "note")):
        n = checked.count(severity)  # type: ignore[arg-type]
        if n:
            counts.append(f"{n:,} {word}{'' if n == 1 else 's'}")
    if not checked.loaded:
        more = f" ({', '.join(counts)} more)" if counts else ""
        return f"Does not load{more}. Not ready to ship.", False
    text = (f"{', '.join(counts) or 'No problems'} in {checked.records:,} "
            f"record{'' if checked.records == 1 else 's'}. ")
    ready = checked.ready()
    return text + ("Ready to ship." if ready else "Not ready to ship."), ready


def _schedule(variant_set: Mapping[str, Any], now_ms: int) -> str:
    start, stop = variant_set["start_ts"], variant_set["stop_ts"]
    if not start and not stop:
        return "not set"
    text = f"{_moment(start) if start else 'open'} to {_moment(stop) if stop else 'open'}"
    if stop and stop <= now_ms:
        state = "ended"
    elif start and start > now_ms:
        state = "not started"
    else:
        state = "running"
    return f"{text} ({state})"


def _group_link(group: Mapping[str, Any] | None, anchors: Mapping[str, str]) -> str:
    if group is None:
        return "none"
    name = group["name"]
    if name in anchors:
        return f'<a href="#{anchors[name]}">{esc(name)}</a>'
    return esc(name)


def _facts(form: Mapping[str, Any], anchors: Mapping[str, str], now_ms: int) -> str:
    rows = [("type", esc(form["type"])), ("owner", esc(form["owner"])),
            ("enabled", "yes" if form["enabled"] else "<b>no</b> (nobody gets a decision)"),
            ("id, version", f'{form["id"]}, {form["version"]}'),
            ("exposure events", "yes" if form["emit_event"] else "no")]
    vs = form["variant_set"]
    if vs is not None:
        rows.append(("schedule", esc(_schedule(vs, now_ms))))
        field = vs["bucket_val"]
        rows.append(("bucketed by", f"<code>{esc(field)}</code>" if field is not None
                     else "<b>no field</b> (bucketing fails)"))
        rows.append(("shuffle version", str(vs["shuffle_version"])))
        rows.append(("holdout group", _group_link(vs["holdout"], anchors)))
        rows.append(("mutex group", _group_link(vs["mutex_group"], anchors)))
    return ('<dl class="facts">' + "".join(f"<dt>{k}</dt><dd>{v}</dd>" for k, v in rows)
            + "</dl>")


def _value(form: Mapping[str, Any]) -> str:
    if form["value"] is None and form["value_type"] is None:
        return ""
    kind = f' <span class="muted">({esc(form["value_type"])})</span>' if form["value_type"] else ""
    text = json.dumps(form["value"], indent=2, ensure_ascii=False)
    return f"<div>Value{kind}:</div><pre>{esc(text)}</pre>"


def _change_text(change: FeatureDiff) -> str:
    parts = [f'<span class="badge {change.change}">{change.change}</span>']
    if change.fields:
        parts.append(f'<span class="muted">in {esc(", ".join(change.fields))}</span>')
    if change.reseeded:
        parts.append(f'<span class="badge reseeded">reseeded by '
                     f'{esc(", ".join(change.reseeded_by))}</span> every user is bucketed afresh')
    elif change.moved_buckets is not None:
        parts.append(f"<b>{_share(len(change.moved_buckets))}</b> of users change variant")
        if change.newly_assigned_buckets:
            parts.append(f"; {_share(len(change.newly_assigned_buckets))} newly get one")
    return " ".join(parts)


def _changes_block(change: FeatureDiff, old_form: Mapping[str, Any] | None, colours: _Colours,
                   name: str) -> tuple[str, bool]:
    """The change's summary and the bar before the edit; whether the new bar should
    carry the strip of changed buckets."""
    parts = [f'<div class="change">{_change_text(change)}</div>']
    for move in change.moves:
        parts.append(f'<div class="muted">{esc(move)}</div>')
    old_set = None if old_form is None else old_form["variant_set"]
    if old_set is not None and change.change == "changed":
        parts.append(_bar(old_set, colours, "before", name, "before the edit"))
    strip = change.moved_buckets is not None and change.change == "changed"
    return "".join(parts), strip


class _Page:
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
               f"<title>{esc(title)}</title><style>{_STYLE}</style></head><body>")
        yield _DEFS
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
        yield f"</main><script>{_SCRIPT}</script></body></html>\n"

    def _header(self) -> Iterator[str]:
        verdict, ready = _verdict(self.checked)
        yield (f"<header><h1>Configuration {esc(self.path)}</h1>"
               f'<div class="verdict {"ok" if ready else "bad"}">{esc(verdict)}</div>')
        if self.load_error is not None:
            yield f'<div class="load-error">Load error: <code>{esc(self.load_error)}</code></div>'
        types: dict[str, int] = {}
        for form in self.forms:
            types[form["type"]] = types.get(form["type"], 0) + 1
        counts = "".join(f"<span>{n:,} {esc(t)}</span>" for t, n in sorted(types.items()))
        yield (f'<div class="counts"><span>{len(self.forms):,} features</span>{counts}</div>'
               f'<div class="muted">Schedules judged at {_moment(self.now_ms)}.</div>')
        if self.general:
            yield "<h2>Findings</h2>" + _finding_items(self.general, self.path, True)
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
               f"<p>{len(shown):,} features differ, {unchanged:,} unchanged.</p>")
        if not shown:
            return
        yield '<table class="changes-table"><tr><th>feature</th><th>change</th></tr>'
        for c in shown:
            anchor = self.anchors.get(c.feature)
            name = (f'<a href="#{anchor}">{esc(c.feature)}</a>' if anchor and c.change != "removed"
                    else esc(c.feature))
            yield f"<tr><td>{name}</td><td>{_change_text(c)}</td></tr>"
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
                body = _bar(old["variant_set"], _Colours(), "removed", c.feature, "before the edit")
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
        parts.append(_facts(form, self.anchors, self.now_ms))
        change = self.change_by_name.get(name) if first else None
        vs = form["variant_set"]
        old = self.old_by_name.get(name)
        colours = _Colours(v["name"] for v in (vs["variants"] if vs else ()))
        strip = False
        if change is not None and change.change != "unchanged":
            block, strip = _changes_block(change, old, colours, name)
            parts.append(block)
        if vs is not None:
            parts.append(_bar(vs, colours, "feature", name,
                              "after the edit" if strip else None,
                              change if strip else None))
            parts.append('<div class="axis"><span>0</span><span>250</span><span>500</span>'
                         '<span>750</span><span>999</span></div>')
            parts.append(_legend(vs, colours))
        parts.append(_targeting(form))
        parts.append(_value(form))
        found = self.findings_by_name.get(name) if first else None
        if found:
            parts.append(_finding_items(found, self.path))
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

        for form in self.forms:
            place(form)
        # Groups that are no top-level feature are placed from their nested forms.
        pending = list(groups.values())
        while pending:
            group = pending.pop()
            before = set(groups)
            place(group)
            pending.extend(groups[n] for n in set(groups) - before)
        if not groups:
            return
        yield ('<h2 id="groups">Groups</h2><p class="muted">Each holdout and mutex group with '
               'its own split and the features it holds. A holdout group holds out the '
               'users in its <code>holdout</code> variant and lets those in '
               '<code>control_1</code> through marked as controls; a mutex group lets a '
               'member through for the buckets of the variant named after it.</p>')
        roots = [n for n in groups if n not in parent_of]
        if not roots:  # every group sits in another one: no cycle can load, so unreachable
            roots = list(groups)
        for name in roots:
            yield from self._group_box(name, groups, kinds, members, extra_holdout, 0)

    def _group_box(self, name: str, groups: Mapping[str, Mapping[str, Any]],
                   kinds: Mapping[str, set[str]], members: Mapping[str, list[str]],
                   extra_holdout: Mapping[str, str], depth: int) -> Iterator[str]:
        group = groups[name]
        kind = "mutex" if "mutex" in kinds[name] else "holdout"
        label = " and ".join(f"{k} group" for k in sorted(kinds[name]))
        anchor = self.anchors.get(name)
        title = f'<a href="#{anchor}">{esc(name)}</a>' if anchor else esc(name)
        yield (f'<div class="group {kind}" data-group="{esc(name)}"><h4>{title} '
               f'<span class="muted">({label})</span></h4>')
        vs = group["variant_set"]
        if vs is not None:
            yield _bar(vs, _Colours(v["name"] for v in vs["variants"]), "group", name)
        for member in members.get(name, ()):
            if member in groups:
                if depth < _MAX_GROUP_DEPTH:
                    yield from self._group_box(member, groups, kinds, members, extra_holdout,
                                               depth + 1)
                else:
                    yield (f'<div class="member">{self._member_link(member)} '
                           '(more groups below)</div>')
                continue
            note = ""
            if member in extra_holdout:
                note = f' <span class="muted">also held out by {esc(extra_holdout[member])}</span>'
            admitted = ""
            if kind == "mutex" and vs is not None:
                names = [v["name"] for v in vs["variants"]]
                share = sum(stop - first for first, stop, index in vs["bucket_runs"]
                            if index >= 0 and names[index] == member)
                admitted = f' <span class="muted">gets {_share(share)} of the group</span>'
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
    chain = DEFAULT_STAGES if stages is None else stages
    now_ms = _epoch_ms(now)
    changes = None if against is None else diff(against, path, stages)
    checked = check(path, stages, now=now_ms / 1000)
    _, engine = read_and_load(path, chain)
    load_error = engine.err()
    forms = _native.report_features(engine) if load_error is None else []
    old_forms: list[dict[str, Any]] = []
    if against is not None:
        _, old_engine = read_and_load(against, chain)
        old_forms = _native.report_features(old_engine)
    page = _Page(os.fspath(path), checked, forms, changes, old_forms, now_ms, load_error)
    return "".join(page.render())
