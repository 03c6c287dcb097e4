#pragma once
// Guessing what a misspelt name was meant to be, for the "did you mean" of a hint.

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace orvane::lint {

inline constexpr size_t kMaxGuessCandidates = 20000;

// Edits (insert, delete, replace, swap of neighbours) that turn `a` into `b`.
size_t edit_distance(std::string_view a, std::string_view b);

// The known name closest to `name`, if one is close enough to be a likely slip: the same
// letters in another case, or a few edits for a name of some length (one edit up to four
// characters, two up to eight, three beyond). The first of equally close names wins.
// Among more than kMaxGuessCandidates names only a difference of case is looked for, so
// that guessing stays linear on documents with hundreds of thousands of records.
std::optional<std::string_view> closest_name(std::string_view name,
                                             std::span<const std::string_view> known);

// `name` in backquotes, the way findings show member and field names.
std::string ticked(std::string_view name);

}  // namespace orvane::lint
