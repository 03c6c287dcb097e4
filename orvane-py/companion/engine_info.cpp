// Small read-only questions about engines and contexts, answered from their payloads.

#include <nanobind/nanobind.h>

#include <string_view>

#include "context/fixed_fields.h"
#include "registry.h"
#include "shared_classes.h"
#include "to_python.h"

namespace nb = nanobind;

namespace orvane {
namespace {

std::string_view value_kind(FieldValue value) {
  switch (value) {
    case FieldValue::String: return "str";
    case FieldValue::Bool: return "bool";
    case FieldValue::Int32: return "int32";
    case FieldValue::Int64: return "int64";
  }
  return "";  // unreachable: the switch covers every FieldValue
}

}  // namespace

void register_engine_info(nb::module_& m) {
  // Arguments are taken as any object (None included) and checked by the accessors of
  // shared_classes.h, so that a wrong one gets the same TypeError text as in pyorvane.
  // The names of the loaded features, in the order of the configuration file (a name
  // given twice appears twice, as the engine keeps both records).
  m.def(
      "feature_names",
      [](nb::handle engine) {
        const Orvane& loaded = engine_argument(engine, "engine");
        nb::list names;
        for (const auto& feature : loaded.features()) names.append(str_to_python(feature->name));
        return names;
      },
      nb::arg("engine").none());
  m.def("is_context", [](nb::handle obj) { return is_context(obj); }, nb::arg("obj").none());
  // make_ctx's fixed keys, in the order it reads them, each with the kind of value it takes
  // ("str", "bool", "int32", "int64"): the package's own handling of context keys (batch
  // columns, OpenFeature attributes) follows the engine's list instead of keeping a copy.
  nb::list fields;
  for (FixedField field : kReadOrder) {
    const FixedFieldInfo& info = fixed_field_info(field);
    fields.append(nb::make_tuple(nb::str(info.name.data(), info.name.size()),
                                 nb::str(value_kind(info.value).data(),
                                         value_kind(info.value).size())));
  }
  m.attr("CONTEXT_FIELDS") = nb::tuple(fields);
}

}  // namespace orvane
