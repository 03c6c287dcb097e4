"""Loads the example configuration and shows, for a few users, which variants they get,
which configuration values apply to them and which exposure events a service would log."""

from __future__ import annotations

import pathlib
from typing import TYPE_CHECKING

import pyorvane

if TYPE_CHECKING:
    # Names for annotations only: pyorvane's namespace holds just init and make_ctx.
    from pyorvane import ContextDict, GetAllDecisionsRes, PyDecision

CONFIG = pathlib.Path(__file__).resolve().parent / "experiments.json"
STAGES = "darkmode targeting overrides holdout mutex_group fractional_availability value"

USERS: list[ContextDict] = [
    {"user_id": "t2_alice", "device_id": "3f2a9c1e-7b4d-4e8a-9c3f-1a2b3c4d5e6f",
     "app_name": "ios", "build_number": 1310, "logged_in": True, "user_is_employee": False,
     "country_code": "US", "locale": "en-US"},
    {"user_id": "t2_qa_bob", "device_id": "web-8812", "app_name": "web", "build_number": 1250,
     "logged_in": True, "user_is_employee": True, "country_code": "DE"},
    {"user_id": "t2_carol", "device_id": "a-55", "app_name": "android", "build_number": 1100,
     "logged_in": False, "user_is_employee": False, "country_code": "GB",
     "other_fields": {"plan": "internal"}},
]


def decisions_of(result: GetAllDecisionsRes) -> dict[str, PyDecision]:
    decisions = result.decisions()
    if decisions is None:  # the call failed as a whole
        raise SystemExit(result.err())
    return decisions


def main() -> None:
    engine = pyorvane.init(STAGES, str(CONFIG))
    if engine.err() is not None:
        raise SystemExit(engine.err())

    for fields in USERS:
        ctx = pyorvane.make_ctx(fields)
        if ctx.err() is not None:
            raise SystemExit(ctx.err())
        print(f"== {fields['user_id']} ({fields['app_name']}, {fields['country_code']})")

        events: list[str] = []
        print("  variants:")
        for name, result in sorted(decisions_of(engine.choose_all(ctx)).items()):
            shown = result.decision() or result.err() or "-"
            print(f"    {name:<30} {shown}")
            events.extend(result.events())

        print("  configuration:")
        for name, result in sorted(decisions_of(engine.get_all_values(ctx)).items()):
            value = result.value_dict()
            print(f"    {name:<30} {value['value']!r} ({value['type']})")

        print("  exposure events:")
        for event in events:
            print(f"    {event}")
        print()


if __name__ == "__main__":
    main()
