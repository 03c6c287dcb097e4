#pragma once
// Requests made up for many identifiers at once (previews, counting what a change
// moves): one base context, with each identifier placed in the field a feature buckets
// by.

#include <optional>
#include <string>
#include <string_view>

#include "context/context.h"
#include "context/context_field.h"
#include "model/feature.h"

namespace orvane::lint {

// The field a feature draws its bucket from; user_id for a feature that does not bucket.
ContextField identifier_field(const Feature& feature);

// Sets `field` of `ctx` to `identifier`, read as that field's kind: as text for text
// fields and other_fields, as a decimal integer for build_number and the timestamps, as
// true or false for the flags. A message when the text is not of that kind.
std::optional<std::string> set_identifier(Context& ctx, const ContextField& field,
                                          std::string_view identifier);

}  // namespace orvane::lint
