#include "shared_classes.h"

#include <dlfcn.h>

#include <string>

#include "arguments.h"
#include "payload_abi.h"

namespace nb = nanobind;

namespace orvane {
namespace {

// The Python class registered for T; its absence means pyorvane was not imported, or it
// lives in another nanobind registry, and no instance of it can reach us.
template <class T>
nb::handle shared_class(const char* name) {
  nb::handle type = nb::type<T>();
  if (!type.is_valid()) {
    throw nb::type_error((std::string("pyorvane's ") + name +
                          " class is not registered with this module's nanobind")
                             .c_str());
  }
  return type;
}

// The payload identity pyorvane exports, or null when the loaded file has none.
const char* exported_payload_abi(const std::string& path) {
  // Already mapped by the import; RTLD_NOLOAD finds it without loading anything.
  void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (library == nullptr) return nullptr;
  auto* exported = reinterpret_cast<const char* (*)()>(dlsym(library, kPayloadAbiSymbol));
  // The import holds its own reference, so the text stays mapped after this one goes.
  const char* text = exported != nullptr ? exported() : nullptr;
  dlclose(library);
  return text;
}

}  // namespace

void require_compatible_pyorvane() {
  nb::module_ pyorvane = nb::module_::import_("pyorvane");
  std::string path = nb::hasattr(pyorvane, "__file__")
                         ? std::string(nb::str(pyorvane.attr("__file__")).c_str())
                         : std::string();
  const std::string own = payload_abi_text();
  const char* theirs = exported_payload_abi(path);
  if (theirs == nullptr) {
    throw nb::import_error(("orvane._native cannot use the pyorvane module at '" + path +
                            "': it does not state the layout of its classes. Install pyorvane "
                            "and orvane from the same build (pip install of one distribution).")
                               .c_str());
  }
  if (own != theirs) {
    throw nb::import_error(("orvane._native was built with other pyorvane classes than the "
                            "module at '" + path + "'.\n  orvane._native: " + own +
                            "\n  pyorvane:       " + theirs +
                            "\nInstall pyorvane and orvane from the same build.")
                               .c_str());
  }
  if (!nb::type<PyOrvane>().is_valid() || !nb::type<PyContext>().is_valid()) {
    throw nb::import_error(("pyorvane at '" + path +
                            "' did not register its classes where orvane._native can find them")
                               .c_str());
  }
}

const PyOrvane& pyorvane_argument(nb::handle value, const char* name) {
  require_instance(value.ptr(), shared_class<PyOrvane>("PyOrvane"), name, "PyOrvane");
  return payload<PyOrvane>(value.ptr());
}

const Orvane& engine_argument(nb::handle value, const char* name) {
  const PyOrvane& engine = pyorvane_argument(value, name);
  if (!engine.engine) {
    std::string why = engine.err ? engine.err->display() : "no engine";
    throw nb::value_error(
        (std::string("argument '") + name + "': the engine did not load: " + why).c_str());
  }
  return *engine.engine;
}

const Context& context_argument(nb::handle value, const char* name) {
  require_instance(value.ptr(), shared_class<PyContext>("PyContext"), name, "PyContext");
  return payload<PyContext>(value.ptr()).context;
}

const PyDecision& decision_argument(nb::handle value, const char* name) {
  require_instance(value.ptr(), shared_class<PyDecision>("PyDecision"), name, "PyDecision");
  return payload<PyDecision>(value.ptr());
}

bool is_context(nb::handle value) {
  return PyObject_TypeCheck(value.ptr(),
                            reinterpret_cast<PyTypeObject*>(shared_class<PyContext>("PyContext").ptr()));
}

}  // namespace orvane
