// Batch decisions: whole Arrow tables (or lists of contexts) decided with the interpreter's
// lock released. Tables come and go through the Arrow PyCapsule stream interface, so any
// Arrow library can hand them over and pyarrow takes the answers without a copy.

#include <nanobind/nanobind.h>
#include <nanobind/stl/optional.h>
#include <nanobind/stl/string.h>

#include <optional>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "batch/assign.h"
#include "batch/table_rows.h"
#include "registry.h"
#include "shared_classes.h"

namespace nb = nanobind;

namespace orvane {
namespace {

constexpr const char* kStreamCapsule = "arrow_array_stream";

// The batches of an input stream, held (and released) here until the answers are made.
struct InputTable {
  ArrowSchema schema{};
  std::vector<ArrowArray> batches;

  InputTable() = default;
  InputTable(const InputTable&) = delete;
  ~InputTable() {
    for (ArrowArray& batch : batches) {
      if (batch.release != nullptr) batch.release(&batch);
    }
    if (schema.release != nullptr) schema.release(&schema);
  }
};

[[noreturn]] void stream_failed(ArrowArrayStream& stream, int code) {
  const char* why = stream.get_last_error != nullptr ? stream.get_last_error(&stream) : nullptr;
  throw nb::value_error((std::string("argument 'table': reading the Arrow stream failed: ") +
                         (why != nullptr ? why : std::to_string(code).c_str()))
                            .c_str());
}

// Moves the stream out of its capsule (the capsule will not release it) and reads it whole.
void read_stream(nb::handle capsule, InputTable& table) {
  if (!PyCapsule_IsValid(capsule.ptr(), kStreamCapsule)) {
    throw nb::type_error("argument 'table': expected an \"arrow_array_stream\" capsule");
  }
  auto* source = static_cast<ArrowArrayStream*>(PyCapsule_GetPointer(capsule.ptr(), kStreamCapsule));
  if (source->release == nullptr) {
    throw nb::value_error("argument 'table': the Arrow stream was consumed already");
  }
  ArrowArrayStream stream = *source;
  source->release = nullptr;
  struct Release {
    ArrowArrayStream& stream;
    ~Release() { stream.release(&stream); }
  } release{stream};

  if (int code = stream.get_schema(&stream, &table.schema); code != 0) stream_failed(stream, code);
  for (;;) {
    ArrowArray batch{};
    if (int code = stream.get_next(&stream, &batch); code != 0) stream_failed(stream, code);
    if (batch.release == nullptr) break;
    table.batches.push_back(batch);  // the interface lets a consumer move the struct bitwise
  }
}

nb::object answers_capsule(Answers&& answers) {
  auto* stream = new ArrowArrayStream;
  export_stream(std::move(answers.shape), std::move(answers.batches), stream);
  PyObject* capsule = PyCapsule_New(stream, kStreamCapsule, [](PyObject* object) {
    auto* owned = static_cast<ArrowArrayStream*>(PyCapsule_GetPointer(object, kStreamCapsule));
    // A consumer that took the stream left it released; one that did not, did not.
    if (owned->release != nullptr) owned->release(owned);
    delete owned;
  });
  if (capsule == nullptr) {
    stream->release(stream);
    delete stream;
    throw nb::python_error();
  }
  return nb::steal(capsule);
}

// Decides every source: one feature, or all of them (`feature` absent) in long format. An
// engine that failed to load answers every row with choose's text for it.
nb::object decide_sources(const PyOrvane& engine, const std::optional<std::string>& feature,
                          const std::vector<const RowSource*>& sources,
                          const std::optional<std::string>& identifier_type, int threads) {
  BatchOptions options;
  if (identifier_type) options.identifier_type = ContextField::from_name(*identifier_type);
  options.threads = threads;
  Answers answers;
  {
    // Engines and contexts are immutable and the arrays belong to this call: nothing the
    // rows read can change while other Python threads run.
    nb::gil_scoped_release unlocked;
    if (!engine.engine) {
      answers = every_row_failing(sources, PyOrvaneError{OrvaneNotFound{}}.display(),
                                  !feature.has_value(), options);
    } else if (feature) {
      answers = assign(*engine.engine, *feature, sources, options);
    } else {
      answers = assign_all(*engine.engine, sources, options);
    }
  }
  return answers_capsule(std::move(answers));
}

nb::object assign_table(nb::handle engine_object, std::optional<std::string> feature,
                        nb::handle table_capsule, std::optional<std::string> identifier_type,
                        int threads) {
  const PyOrvane& engine = pyorvane_argument(engine_object, "engine");
  InputTable table;
  read_stream(table_capsule, table);
  const std::unordered_set<std::string> kept =
      engine.engine ? other_fields_read(*engine.engine) : std::unordered_set<std::string>();
  std::vector<TableRows> rows;
  rows.reserve(table.batches.size());
  for (const ArrowArray& batch : table.batches) {
    auto bound = TableRows::bind(table.schema, batch, kept);
    if (!bound) throw nb::value_error(("argument 'table': " + bound.error()).c_str());
    rows.push_back(std::move(*bound));
  }
  std::vector<const RowSource*> sources;
  for (const TableRows& r : rows) sources.push_back(&r);
  return decide_sources(engine, feature, sources, identifier_type, threads);
}

nb::object assign_contexts(nb::handle engine_object, std::optional<std::string> feature,
                           nb::handle contexts_object, std::optional<std::string> identifier_type,
                           int threads) {
  const PyOrvane& engine = pyorvane_argument(engine_object, "engine");
  if (!PyList_Check(contexts_object.ptr())) {
    throw nb::type_error("argument 'contexts': expected a list of PyContext");
  }
  // Own references: the list may change while the lock is released, its items may not go.
  std::vector<nb::object> held;
  std::vector<const Context*> contexts;
  std::vector<std::string> errors;
  const Py_ssize_t size = PyList_GET_SIZE(contexts_object.ptr());
  held.reserve(static_cast<size_t>(size));
  for (Py_ssize_t i = 0; i < size; ++i) {
    held.push_back(nb::borrow(PyList_GET_ITEM(contexts_object.ptr(), i)));
    contexts.push_back(&context_argument(held.back(), "contexts"));
    const PyContext& ctx = payload<PyContext>(held.back().ptr());
    errors.push_back(ctx.err ? ctx.err->display() : std::string());
  }
  ContextRows rows(contexts, errors);
  return decide_sources(engine, feature, {&rows}, identifier_type, threads);
}

}  // namespace

void register_batch(nb::module_& m) {
  // `feature` None decides every feature (assign_all's long format). Both return an
  // "arrow_array_stream" capsule of the answers.
  m.def("assign_table", assign_table, nb::arg("engine").none(), nb::arg("feature").none(),
        nb::arg("table").none(), nb::arg("identifier_type").none(), nb::arg("threads"));
  m.def("assign_contexts", assign_contexts, nb::arg("engine").none(), nb::arg("feature").none(),
        nb::arg("contexts").none(), nb::arg("identifier_type").none(), nb::arg("threads"));
}

}  // namespace orvane
