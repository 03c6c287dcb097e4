#include "interpreter.h"

#include <Python.h>

#include <stdexcept>
#include <string>

namespace orvane {

void refuse_sub_interpreter(const char* module_name) {
  if (PyInterpreterState_Get() == PyInterpreterState_Main()) return;
  // nanobind turns the exception into ImportError with this text.
  throw std::runtime_error(std::string(module_name) +
                           " cannot be imported in a sub-interpreter; import it in the main "
                           "interpreter");
}

}  // namespace orvane
