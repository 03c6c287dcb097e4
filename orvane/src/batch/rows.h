#pragma once
// Where a batch's rows come from: one request context per row, or the messages that say
// why a row has none (make_ctx's, for a value it would have rejected).

#include <cstdint>
#include <string>
#include <vector>

#include "context/context.h"

namespace orvane {

class RowSource {
 public:
  virtual ~RowSource() = default;
  virtual int64_t rows() const = 0;
  // The context of `row`, built in `scratch` (the caller's, reused from row to row) or
  // borrowed from the source; null with the messages in `error` when the row has none.
  // Safe to call from several threads at once, each with its own scratch.
  virtual const Context* context(int64_t row, Context& scratch, std::string& error) const = 0;
};

// Contexts built elsewhere (by make_ctx), each with its conversion messages ("" for none).
// Borrows both vectors, which must outlive the source.
class ContextRows : public RowSource {
 public:
  ContextRows(const std::vector<const Context*>& contexts, const std::vector<std::string>& errors)
      : contexts_(contexts), errors_(errors) {}

  int64_t rows() const override { return static_cast<int64_t>(contexts_.size()); }
  const Context* context(int64_t row, Context&, std::string& error) const override {
    const std::string& messages = errors_[static_cast<size_t>(row)];
    if (!messages.empty()) {
      error = messages;
      return nullptr;
    }
    return contexts_[static_cast<size_t>(row)];
  }

 private:
  const std::vector<const Context*>& contexts_;
  const std::vector<std::string>& errors_;
};

}  // namespace orvane
