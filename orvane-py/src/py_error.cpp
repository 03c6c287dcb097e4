#include "py_error.h"

#include <utility>
#include <vector>

#include "base/overloaded.h"

namespace orvane {
namespace {

DebugNode tuple_of(const char* name, const std::string& message) {
  std::vector<DebugNode> items;
  items.push_back(DebugNode::string(message));
  return DebugNode::tuple(name, std::move(items));
}

}  // namespace

std::string PyOrvaneError::display() const {
  return std::visit(
      Overloaded{
          [](const OrvaneNotFound&) { return std::string("Orvane not found."); },
          [](const GenericError& e) { return e.message; },
          [](const OrvaneInitFailed& e) {
            return "Orvane initialization failed: " + e.message + ".";
          },
      },
      error);
}

DebugNode PyOrvaneError::debug_node() const {
  return std::visit(Overloaded{
                        [](const OrvaneNotFound&) { return DebugNode::leaf("OrvaneNotFound"); },
                        [](const GenericError& e) { return tuple_of("GenericError", e.message); },
                        [](const OrvaneInitFailed& e) {
                          return tuple_of("OrvaneInitFailed", e.message);
                        },
                    },
                    error);
}

DebugNode error_debug_node(const OptionalError& err) {
  if (!err) return DebugNode::optional(std::nullopt);
  return DebugNode::optional(err->debug_node());
}

}  // namespace orvane
