#include "lint/names.h"

#include <algorithm>
#include <cctype>
#include <vector>

namespace orvane::lint {
namespace {

bool same_ignoring_case(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

size_t allowed_edits(std::string_view name) {
  if (name.size() <= 4) return 1;
  if (name.size() <= 8) return 2;
  return 3;
}

}  // namespace

size_t edit_distance(std::string_view a, std::string_view b) {
  // Optimal string alignment over three rolling rows; names are short, and a long one
  // costs only time proportional to the product of the lengths.
  std::vector<size_t> before(b.size() + 1), previous(b.size() + 1), current(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) previous[j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    current[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      const size_t cost = a[i - 1] == b[j - 1] ? 0 : 1;
      current[j] = std::min({previous[j] + 1, current[j - 1] + 1, previous[j - 1] + cost});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) {
        current[j] = std::min(current[j], before[j - 2] + 1);
      }
    }
    std::swap(before, previous);
    std::swap(previous, current);
  }
  return previous[b.size()];
}

std::optional<std::string_view> closest_name(std::string_view name,
                                             std::span<const std::string_view> known) {
  for (std::string_view candidate : known) {
    if (candidate != name && same_ignoring_case(candidate, name)) return candidate;
  }
  std::optional<std::string_view> best;
  if (known.size() > kMaxGuessCandidates) return best;
  size_t best_distance = allowed_edits(name) + 1;
  for (std::string_view candidate : known) {
    if (candidate == name) continue;
    // A length difference alone rules a candidate out before the quadratic comparison.
    const size_t gap = candidate.size() > name.size() ? candidate.size() - name.size()
                                                      : name.size() - candidate.size();
    if (gap >= best_distance) continue;
    const size_t distance = edit_distance(name, candidate);
    if (distance < best_distance) {
      best = candidate;
      best_distance = distance;
    }
  }
  return best;
}

std::string ticked(std::string_view name) {
  std::string out = "`";
  out += name;
  out += '`';
  return out;
}

}  // namespace orvane::lint
