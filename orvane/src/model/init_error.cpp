#include "model/init_error.h"

#include "base/os_error.h"
#include "base/quote.h"

namespace orvane {

IoError io_error_from_errno(int code) { return IoError{os_error_text(code)}; }

// The name is quoted so that blanks, controls and an empty name stay visible.
std::string InvalidDecisionMaker::text() const {
  std::string out = "Invalid decisionmaker name: ";
  append_quoted(out, name);
  return out;
}

std::string OrvaneInitError::display() const {
  struct Display {
    std::string operator()(const IoError& e) const {
      return "Std io error: " + quoted_text(e.message);
    }
    std::string operator()(const JsonError& e) const {
      return "Json error: " + quoted_text(e.display());
    }
    std::string operator()(const InvalidDecisionMaker& e) const {
      return "Invalid DecisionMaker: " + quoted_text(e.text());
    }
    std::string operator()(const ParentCycle& e) const {
      std::string out = "Parent cycle: ";
      for (size_t i = 0; i < e.keys.size(); ++i) {
        if (i > 0) out += " -> ";
        append_quoted(out, e.keys[i]);
      }
      return out;
    }
  };
  return std::visit(Display{}, error);
}

}  // namespace orvane
