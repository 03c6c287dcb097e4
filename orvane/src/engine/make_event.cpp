#include <memory>
#include <string>
#include <string_view>
#include <variant>

#include "engine/internal.h"

namespace orvane {

Result<std::optional<ExperimentEvent>, OrvaneError> make_event(const Feature& feature,
                                                               EventKind kind,
                                                               std::string_view variant_name,
                                                               const Context& ctx) {
  // A feature that does not emit events needs none of the bucketing data, so this check
  // comes before the ones that could fail.
  if (!feature.emit_event) return std::optional<ExperimentEvent>();
  const std::optional<VariantSet>& set = feature.variant_set;
  const FieldView identifier =
      set && set->bucket_val ? view_field(*set->bucket_val, ctx) : FieldView();
  return make_event(feature, kind, variant_name, identifier);
}

Result<std::optional<ExperimentEvent>, OrvaneError> make_event(const Feature& feature,
                                                               EventKind kind,
                                                               std::string_view variant_name,
                                                               const FieldView& value) {
  if (!feature.emit_event) return std::optional<ExperimentEvent>();
  if (!feature.variant_set) return OrvaneError{errors::MissingVariantSet{}};
  const VariantSet& set = *feature.variant_set;
  if (!set.bucket_val) return OrvaneError{errors::MissingBucketValInConfig{}};

  // A missing field is reported as a configuration problem here, not as a context one:
  // the bucketing stage has already checked the context for its own decisions, so only an
  // override on a feature bucketed by an absent field reaches this.
  if (std::holds_alternative<std::monostate>(value)) {
    return OrvaneError{errors::MissingBucketValInConfig{}};
  }

  ExperimentEvent event{
      .feature_name = feature.name,
      .variant_name = variant_name,
      .bucket_field = set.bucket_val->name(),
      .identifier = {},
      .start_ts = set.start_ts,
      .stop_ts = set.stop_ts,
      .owner = feature.owner,
      .feature_id = feature.id,
      .feature_version = feature.version,
      .kind = kind,
      .rendered_identifier = nullptr,
  };
  if (const auto* text = std::get_if<std::string_view>(&value)) {
    event.identifier = *text;
  } else {
    auto rendered = std::make_shared<std::string>();
    append_identifier_text(*rendered, value);
    event.identifier = *rendered;
    event.rendered_identifier = std::move(rendered);
  }
  return std::optional<ExperimentEvent>(std::move(event));
}

}  // namespace orvane
