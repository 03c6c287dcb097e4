#pragma once
// The text of an operating-system error number, as load errors show it.

#include <string>

namespace orvane {

// The OS description of `code` followed by " (os error N)", for example
// "No such file or directory (os error 2)". Safe to call from any thread.
std::string os_error_text(int code);

}  // namespace orvane
