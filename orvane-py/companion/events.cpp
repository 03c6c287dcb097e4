// What orvane.event_documents and orvane.ExposureLog read from pyorvane's objects: the
// encoded documents a decision holds, which pyorvane shows only inside its debug text,
// and the fields of a request context.

#include <nanobind/nanobind.h>
#include <nanobind/stl/string_view.h>

#include <optional>
#include <string_view>

#include "context/context.h"
#include "context/context_field.h"
#include "registry.h"
#include "shared_classes.h"
#include "to_python.h"

namespace nb = nanobind;

namespace orvane {

void register_events(nb::module_& m) {
  // The Thrift-JSON documents of a decision's exposure events, in event order, as the
  // engine encoded them; [] without a decision.
  m.def(
      "event_documents",
      [](nb::handle decision) {
        const PyDecision& held = decision_argument(decision, "decision");
        nb::list documents;
        if (held.decision) {
          for (const Event& event : held.decision->events.documents()) {
            documents.append(str_to_python(event.json));
          }
        }
        return documents;
      },
      nb::arg("decision"));
  // A context's field named as targeting names it (a fixed field, else an entry of
  // other_fields), as a Python value; None when the context has none.
  m.def(
      "context_value",
      [](nb::handle ctx, std::string_view name) -> nb::object {
        std::optional<Json> value = get_value(ContextField::from_name(name),
                                              context_argument(ctx, "ctx"));
        if (!value) return nb::none();
        return json_to_python(*value);
      },
      nb::arg("ctx"), nb::arg("name"));
}

}  // namespace orvane
