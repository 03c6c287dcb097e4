#include "engine/orvane_error.h"

#include <string_view>
#include <type_traits>

namespace orvane {
namespace {

// The texts are part of the interface (Python callers compare them), so every piece is
// spelled out here exactly as shown, including the two that end without a period.
struct Display {
  std::string operator()(const errors::FeatureNotFound&) const { return "Feature not found."; }
  std::string operator()(const errors::FeatureNotFoundWithName& e) const {
    return concat({"Feature \"", e.name, "\" not found."});
  }
  std::string operator()(const errors::InvalidFeature&) const {
    return "Invalid Feature configuration.";
  }
  std::string operator()(const errors::MissingBucketValInConfig&) const {
    return "Missing \"bucket_val\" field in experiment config.";
  }
  std::string operator()(const errors::MissingBucketValInContext& e) const {
    return concat({"Missing field \"", e.field.name(), "\" in context for bucket_val = ",
                   e.field.name()});
  }
  std::string operator()(const errors::IdentifierTypeMismatch& e) const {
    return concat({"Requested identifier_type: \"", e.requested.name(),
                   "\" is incompatible with experiment's bucket_val = ", e.configured.name(),
                   "."});
  }
  std::string operator()(const errors::WrongContextValueType& e) const {
    return concat({"Incorrect value type ", json_kind_name(e.value), " for context field \"",
                   e.field.name(), "\"."});
  }
  std::string operator()(const errors::Generic& e) const { return e.message; }
  std::string operator()(const errors::MissingVariantSet&) const { return "Missing variant_set"; }
  std::string operator()(const errors::ValueTypeMismatch&) const {
    return "Dynamic Configuration Feature type mismatch.";
  }
  std::string operator()(const errors::NumberDeserialization&) const {
    return "Number deserialization failed.";
  }
  std::string operator()(const errors::MalformedEvent& e) const {
    return concat({"Orvane returned malformed event: ", e.cause});
  }

  static std::string concat(std::initializer_list<std::string_view> pieces) {
    size_t size = 0;
    for (std::string_view piece : pieces) size += piece.size();
    std::string out;
    out.reserve(size);
    for (std::string_view piece : pieces) out.append(piece);
    return out;
  }
};

}  // namespace

std::string OrvaneError::display() const { return std::visit(Display{}, error); }

}  // namespace orvane
