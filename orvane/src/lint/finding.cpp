#include "lint/finding.h"

namespace orvane::lint {

std::string_view severity_name(Severity severity) {
  switch (severity) {
    case Severity::Error: return "error";
    case Severity::Warning: return "warning";
    case Severity::Info: return "info";
  }
  return "error";  // unreachable: the switch covers every Severity
}

std::string_view code_name(Code code) {
  switch (code) {
    case Code::UnknownMember: return "unknown-member";
    case Code::UnknownField: return "unknown-field";
    case Code::RangeOutOfBounds: return "range-out-of-bounds";
    case Code::RangeEmpty: return "range-empty";
    case Code::RangesOverlap: return "ranges-overlap";
    case Code::RangesGap: return "ranges-gap";
    case Code::MissingParent: return "missing-parent";
    case Code::HoldoutWithoutHoldoutVariant: return "holdout-without-holdout-variant";
    case Code::MutexMemberNotVariant: return "mutex-member-not-variant";
    case Code::OverrideUnknownVariant: return "override-unknown-variant";
    case Code::DuplicateKey: return "duplicate-key";
    case Code::DuplicateName: return "duplicate-name";
    case Code::DuplicateId: return "duplicate-id";
    case Code::ValueTypeMismatch: return "value-type-mismatch";
    case Code::MissingBucketVal: return "missing-bucket-val";
    case Code::UnknownStage: return "unknown-stage";
    case Code::StageOrder: return "stage-order";
    case Code::TreeNeverTrue: return "tree-never-true";
    case Code::TreeTypeMismatch: return "tree-type-mismatch";
    case Code::Schedule: return "schedule";
  }
  return "";  // unreachable: the switch covers every Code
}

}  // namespace orvane::lint
