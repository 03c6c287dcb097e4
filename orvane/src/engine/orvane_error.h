#pragma once
// The engine's error: twelve alternatives, each with a fixed display text that Python
// callers see. Nothing in the engine throws; operations return these as values.

#include <string>
#include <variant>

#include "base/json.h"
#include "context/context_field.h"

namespace orvane {

namespace errors {
struct FeatureNotFound {};
struct FeatureNotFoundWithName {
  std::string name;
};
struct InvalidFeature {};
struct MissingBucketValInConfig {};
struct MissingBucketValInContext {
  ContextField field;
};
struct IdentifierTypeMismatch {
  ContextField requested;
  ContextField configured;
};
struct WrongContextValueType {
  ContextField field;
  Json value;
};
struct Generic {
  std::string message;
};
struct MissingVariantSet {};
struct ValueTypeMismatch {};
struct NumberDeserialization {};
struct MalformedEvent {
  std::string cause;  // display text of the serialisation failure
};
}  // namespace errors

struct OrvaneError {
  std::variant<errors::FeatureNotFound, errors::FeatureNotFoundWithName, errors::InvalidFeature,
               errors::MissingBucketValInConfig, errors::MissingBucketValInContext,
               errors::IdentifierTypeMismatch, errors::WrongContextValueType, errors::Generic,
               errors::MissingVariantSet, errors::ValueTypeMismatch,
               errors::NumberDeserialization, errors::MalformedEvent>
      error;

  std::string display() const;
};

}  // namespace orvane
