# Writes OUTPUT: a header defining the project version and one SHA-256 over the contents
# of HEADERS (the headers that shape the binding's class payloads), in sorted path order
# so that the fingerprint does not depend on how the list was gathered.
list(SORT HEADERS)
set(contents "")
foreach(header IN LISTS HEADERS)
  file(SHA256 "${header}" digest)
  string(APPEND contents "${digest}\n")
endforeach()
string(SHA256 fingerprint "${contents}")
file(WRITE "${OUTPUT}"
  "#pragma once\n"
  "// Generated at build time from the binding's and the core's headers; do not edit.\n"
  "#define ORVANE_VERSION \"${VERSION}\"\n"
  "#define ORVANE_PAYLOAD_HEADERS_SHA256 \"${fingerprint}\"\n")
