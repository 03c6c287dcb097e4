#pragma once
// The identity of the class payloads' layout in this build. pyorvane exports it as a C
// symbol; the companion module compares it with its own before it reads any payload made
// by pyorvane, because nanobind shares the classes between the two modules by type name
// alone and trusts that both sides agree on what the name holds.

#include <nanobind/nanobind.h>

#include <string>

#include "classes.h"
#include "payload_stamp.h"

namespace orvane {

// The project version, the fingerprint of every header a payload depends on, the
// compiler, nanobind's ABI tag and the sizes of the two shared payloads: two builds give
// the same text only when their payloads can be read by each other.
inline std::string payload_abi_text() {
  return std::string("orvane ") + ORVANE_VERSION + "; headers " +
         ORVANE_PAYLOAD_HEADERS_SHA256 + "; " + NB_PLATFORM_ABI_TAG + "; g++ " + __VERSION__ +
         "; PyOrvane " + std::to_string(sizeof(PyOrvane)) + "/" +
         std::to_string(alignof(PyOrvane)) + ", PyContext " +
         std::to_string(sizeof(PyContext)) + "/" + std::to_string(alignof(PyContext));
}

// The name of the function pyorvane exports: const char* orvane_payload_abi(void).
inline constexpr const char* kPayloadAbiSymbol = "orvane_payload_abi";

}  // namespace orvane
