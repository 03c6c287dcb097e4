// pyorvane's payload identity, exported under a C name (its only exported symbol besides
// the module's init function) so that the companion module can find it with dlsym without
// anything being added to pyorvane's Python namespace.

#include "payload_abi.h"

extern "C" __attribute__((visibility("default"))) const char* orvane_payload_abi() {
  // Built once; the text lives as long as the module is mapped.
  static const std::string text = orvane::payload_abi_text();
  return text.c_str();
}
