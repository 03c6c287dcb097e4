add_library(orvane_warnings INTERFACE)
target_compile_options(orvane_warnings INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wimplicit-fallthrough)
# g++ 12 reports impossible overlaps in std::string's inlined copies at -O2 and above
# (GCC bug 105329), in code that only appends literals; the report carries no signal.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  target_compile_options(orvane_warnings INTERFACE -Wno-restrict)
endif()
if(ORVANE_WERROR)
  target_compile_options(orvane_warnings INTERFACE -Werror)
endif()
