// What orvane.load and orvane.EngineSource load engines with: the loader, run without the
// interpreter lock, so that a service's request threads go on while a configuration loads.

#include <nanobind/nanobind.h>

#include <new>
#include <optional>
#include <string_view>
#include <utility>

#include "arguments.h"
#include "classes.h"
#include "config/config_text.h"
#include "engine/loader.h"
#include "registry.h"

namespace nb = nanobind;

namespace orvane {
namespace {

// A new PyOrvane, as pyorvane.init makes one: the engine, or the load error's text.
nb::object engine_object(Result<Orvane, OrvaneInitError>&& loaded) {
  // Looked up on every call: a load is rare, and nothing here may outlive pyorvane's class.
  nb::object instance = nb::inst_alloc(nb::type<PyOrvane>());
  if (!instance.is_valid()) throw nb::python_error();
  PyOrvane* payload = nb::inst_ptr<PyOrvane>(instance);
  if (loaded) {
    new (payload) PyOrvane{std::move(loaded).value(), std::nullopt};
  } else {
    new (payload)
        PyOrvane{std::nullopt, PyOrvaneError{OrvaneInitFailed{loaded.error().display()}}};
  }
  nb::inst_mark_ready(instance);
  return instance;
}

}  // namespace

void register_load(nb::module_& m) {
  // pyorvane.init(stages, path), with the load run unlocked. The two texts are views into
  // the argument objects, which the call holds and which cannot change.
  m.def(
      "load_file",
      [](nb::handle stages_arg, nb::handle path_arg) {
        std::string_view stages = str_argument(stages_arg.ptr(), "stages");
        std::string_view path = str_argument(path_arg.ptr(), "path");
        Result<Orvane, OrvaneInitError> loaded = [&] {
          nb::gil_scoped_release unlocked;
          return init_orvane(stages, path);
        }();
        return engine_object(std::move(loaded));
      },
      nb::arg("stages"), nb::arg("path"));

  // The same from bytes in memory, with the texts a file of those bytes gives. A bytes
  // object cannot change, and the call holds it, so its buffer is read unlocked in place.
  m.def(
      "load_bytes",
      [](nb::handle stages_arg, nb::bytes data) {
        std::string_view stages = str_argument(stages_arg.ptr(), "stages");
        std::string_view text(data.c_str(), data.size());
        Result<Orvane, OrvaneInitError> loaded = [&] {
          nb::gil_scoped_release unlocked;
          return init_orvane_text(stages, text);
        }();
        return engine_object(std::move(loaded));
      },
      nb::arg("stages"), nb::arg("data"));

  // The largest configuration a load takes, in bytes.
  m.attr("MAX_CONFIG_BYTES") = config_detail::kMaxConfigBytes;
}

}  // namespace orvane
