// orvane._native: the native half of the companion package. It reads the engines and
// contexts pyorvane makes; it refuses to load next to a pyorvane of another build.

#include <nanobind/nanobind.h>

#include "interpreter.h"
#include "registry.h"
#include "shared_classes.h"

NB_MODULE(_native, m) {
  orvane::refuse_sub_interpreter("orvane._native");
  // Same reason as in pyorvane: nanobind's exit count misreads objects held by globals
  // while a daemon thread runs.
  nanobind::set_leak_warnings(false);
  orvane::require_compatible_pyorvane();

  orvane::register_engine_info(m);
  orvane::register_events(m);
  orvane::register_load(m);
  orvane::register_batch(m);
  orvane::register_explain(m);
  orvane::register_lint(m);
  orvane::register_preview(m);
  orvane::register_report(m);
}
