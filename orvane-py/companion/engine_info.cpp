// Small read-only questions about engines and contexts, answered from their payloads.

#include <nanobind/nanobind.h>

#include "registry.h"
#include "shared_classes.h"
#include "to_python.h"

namespace nb = nanobind;

namespace orvane {

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
}

}  // namespace orvane
