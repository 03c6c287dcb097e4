"""The pieces of a report page, each a function from engine data to escaped HTML: bars
over the 1,000 buckets, legends, targeting rules, findings, facts and changes."""

from __future__ import annotations

import datetime
import functools
import html
import json
import struct
from collections.abc import Iterable, Mapping, Sequence
from typing import Any

from .check import CheckReport, Finding
from .diff import DiffReport, FeatureDiff

BUCKETS = 1000

# Colours of the variants of one bar, in order; a bar with more variants starts over.
PALETTE = ("#4e79a7", "#f28e2b", "#59a14f", "#e15759", "#76b7b2", "#b8860b", "#b07aa1",
            "#d37295", "#9c755f", "#6b6ecf")

# Boxes of groups nest this deep at most; a deeper group is drawn again from the margin.
MAX_GROUP_DEPTH = 6

TREE_SIGNS = {"NE": "≠", "GT": ">", "LT": "<", "GE": "≥", "LE": "≤"}


def esc(value: object) -> str:
    """Anything taken from the file, made safe as text or inside a quoted attribute."""
    return html.escape(str(value), quote=True)


def share_text(buckets: int) -> str:
    # A thousand buckets make every share a whole tenth of a percent.
    return f"{buckets // 10}.{buckets % 10}%"


def json_text(value: Any) -> str:
    return json.dumps(value, ensure_ascii=False)


def number_text(value: float) -> str:
    return str(int(value)) if float(value).is_integer() and abs(value) < 1e15 else repr(value)


@functools.lru_cache(maxsize=4096)
def range_end(value: float) -> str:
    """A range end in the fewest digits that read back as the same 32-bit float the engine
    holds (0.1, not the widened 0.10000000149011612)."""
    if value.is_integer() and abs(value) < 1e15:
        return str(int(value))
    for digits in range(1, 10):
        text = f"{value:.{digits}g}"
        if struct.unpack("f", struct.pack("f", float(text)))[0] == value:
            return text
    return repr(value)


def moment_text(ms: int) -> str:
    try:
        when = datetime.datetime.fromtimestamp(ms / 1000, tz=datetime.timezone.utc)
    except (OverflowError, OSError, ValueError):
        return f"{ms} ms"
    return when.strftime("%Y-%m-%d %H:%M UTC")


def runs_of(buckets: Iterable[int]) -> list[tuple[int, int]]:
    """Ascending buckets as (first, stop) runs."""
    runs: list[tuple[int, int]] = []
    for b in sorted(buckets):
        if runs and runs[-1][1] == b:
            runs[-1] = (runs[-1][0], b + 1)
        else:
            runs.append((b, b + 1))
    return runs


def run_text(first: int, stop: int) -> str:
    return str(first) if stop - first == 1 else f"{first}-{stop - 1}"


class Colours:
    """One colour per variant name, kept across the bars of one feature (before and after)."""

    def __init__(self, names: Iterable[str] = ()) -> None:
        self._by_name: dict[str, str] = {}
        for name in names:
            self(name)

    def __call__(self, name: str) -> str:
        if name not in self._by_name:
            self._by_name[name] = PALETTE[len(self._by_name) % len(PALETTE)]
        return self._by_name[name]


def bar(variant_set: Mapping[str, Any], colours: Colours, role: str, feature: str,
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
             f'aria-label="{esc(bar_words(names, runs))}">']
    labels = []
    for first, stop, index in runs:
        width = stop - first
        where = f"buckets {run_text(first, stop)}, {share_text(width)}"
        if index >= 0:
            name = names[index]
            parts.append(f'<rect class="seg" x="{first}" y="0" width="{width}" height="24" '
                         f'fill="{colours(name)}" data-variant="{esc(name)}" '
                         f'data-buckets="{width}"><title>{esc(name)}: {where}</title></rect>')
            label, cls = f"{name} {share_text(width)}", ""
        else:
            parts.append(f'<rect class="gap" x="{first}" y="0" width="{width}" height="24" '
                         f'fill="url(#gap)" data-buckets="{width}"><title>no variant: '
                         f'{where}</title></rect>')
            label, cls = f"none {share_text(width)}", ' class="gap"'
        labels.append(f'<span{cls} style="left:{first / 10}%;width:{width / 10}%">'
                      f'{esc(label)}</span>')
    parts.append("</svg>")
    parts.append(f'<div class="labels" aria-hidden="true">{"".join(labels)}</div></div>')
    if changes is not None:
        parts.append(change_strip(changes))
    return "".join(parts)


def bar_words(names: Sequence[str], runs: Sequence[Sequence[int]]) -> str:
    words = []
    for first, stop, index in runs:
        words.append(f"{names[index] if index >= 0 else 'no variant'} "
                     f"{run_text(first, stop)}")
    return "buckets: " + ", ".join(words)


# The strip under a bar after an edit: buckets whose users change variant, and buckets
# whose users newly get one.
_STRIP = (("moved", "#d62728", "change variant"), ("added", "#2ca02c", "newly get one"))
# The caption names this many runs of each kind, then says how many more there are.
_CAPTION_RUNS = 6


def change_strip(changes: FeatureDiff) -> str:
    """The buckets whose users change variant (red) or newly get one (green), drawn under
    the new bar at the same scale, with a caption naming them."""
    rects, caption = [], []
    for (cls, colour, what), buckets in zip(_STRIP, (changes.moved_buckets or (),
                                                     changes.newly_assigned_buckets)):
        runs = runs_of(buckets)
        for first, stop in runs:
            rects.append(f'<rect class="{cls}" x="{first}" y="0" width="{stop - first}" '
                         f'height="10" fill="{colour}" data-buckets="{stop - first}">'
                         f'<title>buckets {run_text(first, stop)}: {what}</title></rect>')
        if runs:
            named = ", ".join(run_text(first, stop) for first, stop in runs[:_CAPTION_RUNS])
            if len(runs) > _CAPTION_RUNS:
                named += f" and {len(runs) - _CAPTION_RUNS:,} more runs"
            caption.append(f'<span class="swatch" style="background:{colour}"></span>buckets '
                           f"{named} {what}")
    return (f'<svg class="changes" viewBox="0 0 {BUCKETS} 10" preserveAspectRatio="none" '
            f'role="img" aria-label="changed buckets">'
            f'<rect x="0" y="0" width="{BUCKETS}" height="10" fill="#f4f6f8"/>'
            f'{"".join(rects)}</svg><div class="bar-title">{"; ".join(caption)}</div>')


def legend_table(variant_set: Mapping[str, Any], colours: Colours) -> str:
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
                    f'[{range_end(variant["range_start"])}, {range_end(variant["range_end"])})'
                    f'</td><td class="num">{count}</td>'
                    f'<td class="num">{share_text(count)}</td></tr>')
    if gap:
        rows.append(f'<tr><td class="muted">no variant</td><td></td><td class="num">{gap}</td>'
                    f'<td class="num">{share_text(gap)}</td></tr>')
    rows.append("</table>")
    return "".join(rows)


@functools.lru_cache(maxsize=65536)
def _scalar_html(value: Any, kind: str) -> str:
    # `kind` keeps True, 1 and 1.0 apart, which are one key to the cache otherwise.
    if kind == "float":
        return esc(number_text(value))
    return esc(json_text(value))


def value_html(value: Any) -> str:
    """A JSON value from a tree, as the file writes it (thresholds without a needless .0).
    Trees repeat their fields and values a great deal, so scalars are cached."""
    if value is None or isinstance(value, (str, int, float)):
        return _scalar_html(value, type(value).__name__)
    return esc(json_text(value))


@functools.lru_cache(maxsize=65536)
def _field_html(field: str) -> str:
    return f"<code>{esc(field)}</code>"


def rule(tree: Mapping[str, Any]) -> str:
    """A targeting tree as nested list items: ALL/ANY/NOT as headings over their
    children, each condition on one line."""
    ((op, arg),) = tree.items()
    if op == "ALL" or op == "ANY":
        words = "all of" if op == "ALL" else "any of"
        if not arg:
            return f'<li><span class="op">{op}</span> {words}: (nothing)</li>'
        children = "".join([rule(child) for child in arg])
        return f'<li><span class="op">{op}</span> {words}:<ul>{children}</ul></li>'
    if op == "NOT":
        return f'<li><span class="op">NOT</span>:<ul>{rule(arg)}</ul></li>'
    field = _field_html(arg["field"])
    if op == "EQ":
        if "values" in arg:
            values = ", ".join([value_html(v) for v in arg["values"]])
            return f'<li>{field} <span class="op">in</span> <code>[{values}]</code></li>'
        value = value_html(arg["value"])
        return f'<li>{field} <span class="op">=</span> <code>{value}</code></li>'
    return (f'<li>{field} <span class="op">{TREE_SIGNS.get(op) or esc(op)}</span> '
            f'<code>{value_html(arg["value"])}</code></li>')


def targeting_block(form: Mapping[str, Any]) -> str:
    parts = []
    if form["targeting"] is None:
        parts.append('<p class="muted">Targeting: everyone.</p>')
    else:
        parts.append(f'<div>Targeting: requests where</div><ul class="rules">'
                     f'{rule(form["targeting"])}</ul>')
    if form["overrides"]:
        items = []
        for overrides in form["overrides"]:
            for variant, tree in overrides.items():
                items.append(f'<li>variant <b>{esc(variant)}</b> when<ul class="rules">'
                             f'{rule(tree)}</ul></li>')
        parts.append('<div>Overrides, the first that matches wins:</div>'
                     f'<ol class="overrides">{"".join(items)}</ol>')
    return "".join(parts)


def finding_items(findings: Sequence[Finding], file: str, with_feature: bool = False) -> str:
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


def verdict_text(checked: CheckReport) -> tuple[str, bool]:
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


def schedule(variant_set: Mapping[str, Any], now_ms: int) -> str:
    start, stop = variant_set["start_ts"], variant_set["stop_ts"]
    if not start and not stop:
        return "not set"
    text = f"{moment_text(start) if start else 'open'} to {moment_text(stop) if stop else 'open'}"
    if stop and stop <= now_ms:
        state = "ended"
    elif start and start > now_ms:
        state = "not started"
    else:
        state = "running"
    return f"{text} ({state})"


def group_link(group: Mapping[str, Any] | None, anchors: Mapping[str, str]) -> str:
    if group is None:
        return "none"
    name = group["name"]
    if name in anchors:
        return f'<a href="#{anchors[name]}">{esc(name)}</a>'
    return esc(name)


def facts_block(form: Mapping[str, Any], anchors: Mapping[str, str], now_ms: int) -> str:
    rows = [("type", esc(form["type"])), ("owner", esc(form["owner"])),
            ("enabled", "yes" if form["enabled"] else "<b>no</b> (nobody gets a decision)"),
            ("id, version", f'{form["id"]}, {form["version"]}'),
            ("exposure events", "yes" if form["emit_event"] else "no")]
    vs = form["variant_set"]
    if vs is not None:
        rows.append(("schedule", esc(schedule(vs, now_ms))))
        field = vs["bucket_val"]
        rows.append(("bucketed by", f"<code>{esc(field)}</code>" if field is not None
                     else "<b>no field</b> (bucketing fails)"))
        rows.append(("shuffle version", str(vs["shuffle_version"])))
        rows.append(("holdout group", group_link(vs["holdout"], anchors)))
        rows.append(("mutex group", group_link(vs["mutex_group"], anchors)))
    return ('<dl class="facts">' + "".join(f"<dt>{k}</dt><dd>{v}</dd>" for k, v in rows)
            + "</dl>")


def value_block(form: Mapping[str, Any]) -> str:
    if form["value"] is None and form["value_type"] is None:
        return ""
    kind = f' <span class="muted">({esc(form["value_type"])})</span>' if form["value_type"] else ""
    text = json.dumps(form["value"], indent=2, ensure_ascii=False)
    return f"<div>Value{kind}:</div><pre>{esc(text)}</pre>"


def change_text(change: FeatureDiff) -> str:
    parts = [f'<span class="badge {change.change}">{change.change}</span>']
    if change.fields:
        parts.append(f'<span class="muted">in {esc(", ".join(change.fields))}</span>')
    if change.reseeded:
        parts.append(f'<span class="badge reseeded">reseeded by '
                     f'{esc(", ".join(change.reseeded_by))}</span> every user is bucketed afresh')
    elif change.moved_buckets is not None:
        moved = f"<b>{share_text(len(change.moved_buckets))}</b> of users change variant"
        if change.newly_assigned_buckets:
            moved += f"; {share_text(len(change.newly_assigned_buckets))} newly get one"
        parts.append(moved)
    return " ".join(parts)


def changes_block(change: FeatureDiff, old_form: Mapping[str, Any] | None, colours: Colours,
                   name: str) -> tuple[str, bool]:
    """The change's summary and the bar before the edit; whether the new bar should
    carry the strip of changed buckets."""
    parts = [f'<div class="change">{change_text(change)}</div>']
    for move in change.moves:
        parts.append(f'<div class="muted">{esc(move)}</div>')
    old_set = None if old_form is None else old_form["variant_set"]
    if old_set is not None and change.change == "changed":
        parts.append(bar(old_set, colours, "before", name, "before the edit"))
    if old_form is not None and change.change == "changed":
        # Rules and values are compared by reading, so the old ones sit beside the new,
        # open so that a printed page shows them too.
        if {"targeting", "overrides"} & set(change.fields):
            parts.append('<details class="before" open><summary>Targeting and overrides before '
                         f'the edit</summary>{targeting_block(old_form)}</details>')
        if {"value", "value_type"} & set(change.fields):
            parts.append('<details class="before" open><summary>Value before the edit</summary>'
                         f'{value_block(old_form) or "<p>No value.</p>"}</details>')
    strip = change.moved_buckets is not None and change.change == "changed"
    return "".join(parts), strip


def diff_counts(changes: DiffReport) -> str:
    """"2 changed (1 reseeded), 0 added, 0 removed"."""
    counts = {kind: sum(1 for c in changes.features if c.change == kind)
              for kind in ("changed", "added", "removed")}
    reseeded = sum(1 for c in changes.features if c.reseeded)
    return (f"{counts['changed']:,} changed" + (f" ({reseeded:,} reseeded)" if reseeded else "")
            + f", {counts['added']:,} added, {counts['removed']:,} removed")


def holdout_words(variant_set: Mapping[str, Any]) -> str:
    """What a holdout group does to its members' users, in shares of the group's buckets:
    its `holdout` variant holds them out, `control_1` lets them on as marked controls,
    any other answer or none lets them on unmarked."""
    names = [v["name"] for v in variant_set["variants"]]
    held = {"holdout": 0, "control_1": 0}
    for first, stop, index in variant_set["bucket_runs"]:
        if index >= 0 and names[index] in held:
            held[names[index]] += stop - first
    rest = BUCKETS - held["holdout"] - held["control_1"]
    return (f"Holds out {share_text(held['holdout'])} of users, marks "
            f"{share_text(held['control_1'])} as controls, lets {share_text(rest)} on unmarked.")
