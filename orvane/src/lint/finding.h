#pragma once
// One problem a check finds in a configuration: what (a code and a severity), where (the
// record and the member), and what to do about it. Codes and severity names are an
// interface: reports and CI jobs match on them.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orvane::lint {

enum class Severity : uint8_t { Error, Warning, Info };
// "error", "warning", "info".
std::string_view severity_name(Severity severity);

enum class Code : uint8_t {
  UnknownMember,
  UnknownField,
  RangeOutOfBounds,
  RangeEmpty,
  RangesOverlap,
  RangesGap,
  MissingParent,
  HoldoutWithoutHoldoutVariant,
  MutexMemberNotVariant,
  OverrideUnknownVariant,
  DuplicateKey,
  DuplicateName,
  DuplicateId,
  ValueTypeMismatch,
  MissingBucketVal,
  UnknownStage,
  StageOrder,
  TreeNeverTrue,
  TreeTypeMismatch,
  Schedule,
};
// The code as reports show it: "unknown-member", "ranges-overlap", ...
std::string_view code_name(Code code);

// A member of the document as the path of names from the top: the record's key, then
// member names and array indexes (in decimal). Empty for a finding about no member (the
// stage list).
using MemberPath = std::vector<std::string>;

struct Finding {
  Code code;
  Severity severity;
  std::optional<std::string> key;      // the record's top-level key
  std::optional<std::string> feature;  // the record's name
  MemberPath path;
  std::optional<size_t> line;  // of the member's name, when the document places it
  std::optional<size_t> column;
  std::string message;  // one line
  std::string hint;     // what to do; may be empty
};

}  // namespace orvane::lint
