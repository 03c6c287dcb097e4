"""Helpers of the companion package's tests (named apart from orvane-py/tests' modules,
since one pytest session may collect both folders)."""

import pathlib

REPO_ROOT = pathlib.Path(__file__).resolve().parents[2]


def record(name, id):
    """A minimal experiment record with no variants."""
    return {"id": id, "name": name, "enabled": True, "version": "1", "owner": "team",
            "type": "range_variant",
            "experiment": {"experiment_version": 1, "shuffle_version": 0,
                           "bucket_val": "user_id", "variants": []}}
