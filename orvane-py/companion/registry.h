#pragma once
// The capabilities of orvane._native. Each lives in its own file and registers its
// private functions (named with the module's conventions: snake_case, documented in the
// package's _native.pyi) on the module; module.cpp calls each once.

#include <nanobind/nanobind.h>

namespace orvane {

// feature_names(engine), is_context(obj): engine_info.cpp.
void register_engine_info(nanobind::module_& m);
// assign_table(engine, feature, table, identifier_type, threads), assign_contexts(...):
// batch.cpp.
void register_batch(nanobind::module_& m);

// event_documents(decision), context_value(ctx, name): events.cpp.
void register_events(nanobind::module_& m);

// load_file(stages, path): load.cpp.
void register_load(nanobind::module_& m);

// explain_json(engine, feature_name, ctx, identifier_type), bucket(engine, feature_name,
// identifier): explain.cpp.
void register_explain(nanobind::module_& m);

// check_text(text, stages, now_ms), diff_texts(old_text, new_text, stages, ids, ctx):
// lint.cpp.
void register_lint(nanobind::module_& m);

// preview_ranges(engine, feature_name), preview_generated(engine, feature_name, ctx,
// first, last), preview_lines(engine, feature_name, ctx, text): preview.cpp.
void register_preview(nanobind::module_& m);

// report_features(engine): report.cpp.
void register_report(nanobind::module_& m);

}  // namespace orvane
