// What orvane.explain and orvane.bucket ask of the engine: the explanation of one decision
// as JSON text (the Python side builds its Explanation from it) and the bucket of an
// identifier.

#include "engine/explain.h"

#include <nanobind/nanobind.h>

#include <optional>
#include <string>
#include <string_view>

#include "arguments.h"
#include "py_error.h"
#include "registry.h"
#include "shared_classes.h"
#include "to_python.h"

namespace nb = nanobind;

namespace orvane {
namespace {

nb::str explain_json(nb::handle engine, nb::handle feature_name, nb::handle ctx,
                     nb::handle identifier_type) {
  const PyOrvane& held = pyorvane_argument(engine, "engine");
  std::string_view name = str_argument(feature_name.ptr(), "feature_name");
  const Context& context = context_argument(ctx, "ctx");
  std::optional<std::string_view> identifier =
      optional_str_argument(identifier_type.ptr(), "identifier_type");

  Explanation explanation;
  if (held.engine) {
    std::optional<ContextField> field;
    if (identifier) field = ContextField::from_name(*identifier);
    explanation = explain(*held.engine, name, context, field);
  } else {
    // What choose answers for an engine that did not load.
    explanation.feature = std::string(name);
    explanation.error = PyOrvaneError{OrvaneNotFound{}}.display();
  }
  // Texts from the engine are UTF-8 already; replacing keeps a stray byte from turning
  // into an exception here.
  std::string text =
      explanation_json(explanation).dump(-1, ' ', false, OrderedJson::error_handler_t::replace);
  return str_to_python(text);
}

int bucket(nb::handle engine, nb::handle feature_name, nb::handle identifier) {
  const Orvane& loaded = engine_argument(engine, "engine");
  std::string_view name = str_argument(feature_name.ptr(), "feature_name");
  std::string_view text = str_argument(identifier.ptr(), "identifier");
  Result<uint16_t, std::string> drawn = feature_bucket(loaded, name, text);
  if (!drawn) throw nb::value_error(drawn.error().c_str());
  return *drawn;
}

}  // namespace

void register_explain(nb::module_& m) {
  // Arguments are taken as any object and checked here, so a wrong one gets pyorvane's
  // TypeError text naming the argument.
  m.def("explain_json", &explain_json, nb::arg("engine").none(), nb::arg("feature_name").none(),
        nb::arg("ctx").none(), nb::arg("identifier_type").none());
  m.def("bucket", &bucket, nb::arg("engine").none(), nb::arg("feature_name").none(),
        nb::arg("identifier").none());
}

}  // namespace orvane
