"""Why a request got the decision it got.

`explain` runs the engine's own stages for one feature and one request context with a
recorder attached, so the explanation cannot drift from what `choose` decides: each stage's
outcome, the reason in words and what it looked at (targeting trees node by node with the
values read, the bucketing seed, bucket and ranges, the runs of holdout and mutex groups).
`bucket` gives the bucket (0-999) any identifier draws for a feature.
"""

from __future__ import annotations

import json
from dataclasses import dataclass, field
from typing import Any

import pyorvane

from . import _native

__all__ = ["Explanation", "Step", "bucket", "explain"]


@dataclass(frozen=True)
class Step:
    """One stage of the chain as it ran for the request."""

    stage: str
    #: "pass", "continue" (passed on with exposure events), "stop" (no decision),
    #: "decided" or "error".
    outcome: str
    reason: str
    #: What the stage looked at; the keys depend on the stage (see docs/explain.md).
    details: dict[str, Any]


@dataclass(frozen=True)
class Explanation:
    """The decision `choose` gives for one feature and context, and how it came about.

    `variant`, `value` and `error` are exactly what `choose` answers (`error` is the text
    of its `err()`); `steps` stop at the stage that ended the run."""

    feature: str
    variant: str | None
    value: Any
    error: str | None
    decided_by: str | None
    bucket: int | None
    seed: str | None
    steps: list[Step]
    value_type: str | None = None
    #: The exposure events of the decision: {"kind", "feature", "variant"} each.
    events: list[dict[str, str]] = field(default_factory=list)
    #: make_ctx's messages for fields it could not convert; those fields count as absent.
    context_error: str | None = None

    def to_dict(self) -> dict[str, Any]:
        """Plain JSON-ready data: the attributes, with steps as dicts."""
        return {
            "feature": self.feature,
            "variant": self.variant,
            "value": self.value,
            "value_type": self.value_type,
            "error": self.error,
            "decided_by": self.decided_by,
            "bucket": self.bucket,
            "seed": self.seed,
            "events": [dict(event) for event in self.events],
            "steps": [{"stage": s.stage, "outcome": s.outcome, "reason": s.reason,
                       "details": json.loads(json.dumps(s.details))} for s in self.steps],
            "context_error": self.context_error,
        }

    def __str__(self) -> str:
        return _render(self.to_dict())


def explain(engine: pyorvane.PyOrvane, feature_name: str,
            ctx: pyorvane.PyContext | dict[str, Any],
            identifier_type: str | None = None) -> Explanation:
    """Explains `engine.choose(feature_name, ctx, identifier_type)`.

    `ctx` is a PyContext or a dict for `pyorvane.make_ctx`. Nothing in the configuration
    or the context raises: an unknown feature, an engine that did not load or a failing
    stage give an explanation whose `error` is the text `choose` gives. Arguments of the
    wrong Python type raise TypeError naming the argument."""
    if isinstance(ctx, dict):
        ctx = pyorvane.make_ctx(ctx)
    data = json.loads(_native.explain_json(engine, feature_name, ctx, identifier_type))
    return Explanation(
        feature=data["feature"], variant=data["variant"], value=data["value"],
        error=data["error"], decided_by=data["decided_by"], bucket=data["bucket"],
        seed=data["seed"], steps=[Step(**step) for step in data["steps"]],
        value_type=data["value_type"], events=data["events"], context_error=ctx.err())


def bucket(engine: pyorvane.PyOrvane, feature_name: str, identifier: str) -> int:
    """The bucket (0-999) that `feature_name` draws for `identifier`, the text of the
    context field the feature buckets by (its bucket_val).

    ValueError for an unknown feature, one without bucketing (no variant set or no
    bucket_val) and an engine that did not load; TypeError for arguments of the wrong
    type."""
    return _native.bucket(engine, feature_name, identifier)


# --- text for people ---


def _compact(value: Any) -> str:
    return json.dumps(value, separators=(",", ":"), ensure_ascii=False)


def _headline(e: dict[str, Any]) -> str:
    if e["error"] is not None:
        return f"{e['feature']} -> error: {e['error']}"
    last = e["steps"][-1] if e["steps"] else None
    if e["decided_by"] is not None or (last and last["outcome"] == "decided"):
        answer = e["variant"] if e["variant"] is not None else f"value {_compact(e['value'])}"
        how = [f"decided by {e['decided_by']}"]
        if e["bucket"] is not None:
            how.append(f"bucket {e['bucket']}")
        return f"{e['feature']} -> {answer}   ({', '.join(how)})"
    why = f"stopped by {last['stage']}" if last and last["outcome"] == "stop" else \
        "no stage decided"
    return f"{e['feature']} -> no decision   ({why})"


def _node_rows(node: dict[str, Any], depth: int) -> list[tuple[int, str, str, str]]:
    label = node["op"] + (f" {node['field']}" if "field" in node else "")
    if node["result"] is not None:
        result = "true" if node["result"] else "false"
    else:
        result = "-" if node["why"] == "not evaluated" else "no result"
    if "field" in node:
        configured = node["value"] if "value" in node else node["values"]
        if isinstance(configured, float) and configured.is_integer() and \
                node["op"] in ("GT", "LT", "GE", "LE"):
            configured = int(configured)  # thresholds are held as doubles: 1200, not 1200.0
        note = f"configured {_compact(configured)}"
        if node["result"] is None and node["why"] == "not evaluated":
            note += " (not evaluated)"
        else:
            note = (f"read {_compact(node['read'])}" if "read" in node else "field absent") + \
                f", {note}"
            if node["result"] is None and node["why"] != "field absent":
                note += f" ({node['why']})"
    else:
        note = node["why"] if node["result"] is None else ""
    rows = [(depth, label, result, note)]
    for child in node.get("children", []):
        rows += _node_rows(child, depth + 1)
    return rows


def _detail_rows(step: dict[str, Any], depth: int) -> list[tuple[int, str, str, str]]:
    details = step["details"]
    if step["stage"] == "targeting" and details.get("tree"):
        return _node_rows(details["tree"], depth)
    if step["stage"] == "overrides" and details.get("overrides"):
        rows = []
        for overrides in details["overrides"]:
            for variant, tree in overrides.items():
                rows.append((depth, f"override {variant}", "", ""))
                rows += _node_rows(tree, depth + 1)
        return rows
    if step["stage"] == "fractional_availability" and "bucket" in details:
        rows = [(depth, "seed", "", f"{_compact(details['seed'])} -> bucket {details['bucket']}")]
        for variant in details["variants"]:
            start, end = variant["range"]
            buckets = variant["buckets"]
            span = f"buckets {buckets[0]}-{buckets[1]}" if buckets else "no buckets"
            hit = "   <- matched" if variant["name"] == details["matched"] else ""
            rows.append((depth, variant["name"], "", f"[{start}, {end})  {span}{hit}"))
        return rows
    if "explanation" in details:
        return _run_rows(details["explanation"], depth)
    return []


def _run_rows(e: dict[str, Any], depth: int) -> list[tuple[int, str, str, str]]:
    """A nested group's run: a row naming it and its answer, its steps beneath."""
    if e["error"] is not None:
        summary = ("error", e["error"])
    elif e["variant"] is not None:
        summary = ("decided", f"gave {e['variant']}")
    elif e["decided_by"] is not None:
        summary = ("decided", f"gave value {_compact(e['value'])}")
    else:
        summary = ("", "no decision")
    note = f" ({e['note']})" if e.get("note") else ""
    rows = [(depth, e["feature"], summary[0], summary[1] + note)]
    for step in e["steps"]:
        rows += _step_rows(step, depth + 1)
    return rows


def _step_rows(step: dict[str, Any], depth: int) -> list[tuple[int, str, str, str]]:
    return [(depth, step["stage"], step["outcome"], step["reason"])] + \
        _detail_rows(step, depth + 1)


def _render(e: dict[str, Any]) -> str:
    lines = [_headline(e)]
    if e["context_error"]:
        lines.append("context: " + e["context_error"].replace("\n", "\n         "))
    rows = [row for step in e["steps"] for row in _step_rows(step, 1)]
    if rows:
        width = max(2 * depth + len(label) for depth, label, _, _ in rows) + 2
        outcome_width = max(len(outcome) for _, _, outcome, _ in rows) + 2
        lines.append("")
        for depth, label, outcome, reason in rows:
            cells = f"{'  ' * depth}{label}".ljust(width) + outcome.ljust(outcome_width) + reason
            lines.append(cells.rstrip())
    if e["error"] is None and (e["events"] or e["decided_by"] is not None):
        events = ", ".join(f"{ev['kind']} ({ev['feature']})" for ev in e["events"])
        lines += ["", f"events: {events or 'none'}"]
    return "\n".join(lines)
