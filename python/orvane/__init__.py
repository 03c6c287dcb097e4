"""Orvane's companion package: tools around the `pyorvane` engine (explanations,
checks, previews, diffs, reloading, batch decisions) and the `orvane` command.

The public API is what this module exports; `orvane._native` is private."""

from importlib.metadata import version as _distribution_version

# pyorvane and orvane ship in one distribution, so they share its version.
__version__: str = _distribution_version("pyorvane")

from .batch import assign, assign_all
from .check import CheckReport, Finding, check
from .diff import DiffError, DiffReport, FeatureDiff, diff
from .events import event_documents, event_schema
from .explain import Explanation, Step, bucket, explain
from .exposure import ExposureLog, JsonLinesFile
from .preview import ErrorCount, Preview, PreviewError, StopCount, VariantCount, preview
from .report import report
from .source import EngineSource, LoadError, load

__all__ = ["CheckReport", "DiffError", "DiffReport", "EngineSource", "ErrorCount",
           "Explanation", "ExposureLog", "FeatureDiff", "Finding", "JsonLinesFile", "LoadError",
           "Preview", "PreviewError", "Step", "StopCount", "VariantCount", "__version__",
           "assign", "assign_all", "bucket", "check", "diff", "event_documents", "event_schema",
           "explain", "load", "preview", "report"]
