#pragma once
// Arrow arrays built by hand for the batch tests: each column owns its buffers, and a
// table is a struct array over the columns, as a record batch arrives through the C
// stream interface.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "batch/arrow_c.h"

namespace orvane::testing {

class ArrowColumn {
 public:
  ArrowColumn(std::string name, std::string format) : name_(std::move(name)), format_(std::move(format)) {}

  template <class T>
  static ArrowColumn fixed(std::string name, std::string format, const std::vector<std::optional<T>>& values) {
    ArrowColumn c(std::move(name), std::move(format));
    std::vector<uint8_t> data(values.size() * sizeof(T));
    for (size_t i = 0; i < values.size(); ++i) {
      T v = values[i].value_or(T{});
      std::memcpy(data.data() + i * sizeof(T), &v, sizeof(T));
    }
    c.finish(values, {std::move(data)});
    return c;
  }

  static ArrowColumn bools(std::string name, const std::vector<std::optional<bool>>& values) {
    ArrowColumn c(std::move(name), "b");
    std::vector<uint8_t> bits((values.size() + 7) / 8 + 1);
    for (size_t i = 0; i < values.size(); ++i) {
      if (values[i].value_or(false)) bits[i / 8] |= static_cast<uint8_t>(1u << (i % 8));
    }
    c.finish(values, {std::move(bits)});
    return c;
  }

  // utf8 ("u") or binary ("z"): 32-bit offsets and data.
  static ArrowColumn texts(std::string name, const std::vector<std::optional<std::string>>& values,
                           std::string format = "u") {
    ArrowColumn c(std::move(name), std::move(format));
    std::vector<uint8_t> offsets(4 * (values.size() + 1));
    std::vector<uint8_t> data(1);
    int32_t at = 0;
    for (size_t i = 0; i < values.size(); ++i) {
      if (values[i]) {
        data.insert(data.end() - 1, values[i]->begin(), values[i]->end());
        at += static_cast<int32_t>(values[i]->size());
      }
      std::memcpy(offsets.data() + 4 * (i + 1), &at, 4);
    }
    c.finish(values, {std::move(offsets), std::move(data)});
    return c;
  }

  // Dictionary-encoded strings: 32-bit indices into `dictionary`.
  static ArrowColumn dictionary(std::string name, const std::vector<std::optional<int32_t>>& indices,
                                const std::vector<std::optional<std::string>>& dictionary) {
    ArrowColumn c = fixed<int32_t>(std::move(name), "i", indices);
    c.dictionary_ = std::make_unique<ArrowColumn>(texts("", dictionary));
    c.schema_.dictionary = &c.dictionary_->schema_;
    c.array_.dictionary = &c.dictionary_->array_;
    return c;
  }

  ArrowColumn(ArrowColumn&& other) noexcept { *this = std::move(other); }
  ArrowColumn& operator=(ArrowColumn&& other) noexcept {
    name_ = std::move(other.name_);
    format_ = std::move(other.format_);
    buffers_ = std::move(other.buffers_);
    pointers_ = std::move(other.pointers_);
    dictionary_ = std::move(other.dictionary_);
    schema_ = other.schema_;
    array_ = other.array_;
    schema_.format = format_.c_str();
    schema_.name = name_.c_str();
    array_.buffers = pointers_.data();
    return *this;
  }

  ArrowSchema schema_{};
  ArrowArray array_{};

 private:
  template <class T>
  void finish(const std::vector<std::optional<T>>& values, std::vector<std::vector<uint8_t>> data) {
    std::vector<uint8_t> validity((values.size() + 7) / 8 + 1);
    int64_t nulls = 0;
    for (size_t i = 0; i < values.size(); ++i) {
      if (values[i]) {
        validity[i / 8] |= static_cast<uint8_t>(1u << (i % 8));
      } else {
        ++nulls;
      }
    }
    buffers_.push_back(std::move(validity));
    for (auto& d : data) buffers_.push_back(std::move(d));
    for (auto& b : buffers_) pointers_.push_back(b.data());
    schema_ = ArrowSchema{format_.c_str(), name_.c_str(), nullptr, ARROW_FLAG_NULLABLE, 0,
                          nullptr, nullptr, nullptr, nullptr};
    array_ = ArrowArray{static_cast<int64_t>(values.size()), nulls, 0,
                        static_cast<int64_t>(pointers_.size()), 0, pointers_.data(),
                        nullptr, nullptr, nullptr, nullptr};
  }

  std::string name_;
  std::string format_;
  std::vector<std::vector<uint8_t>> buffers_;
  std::vector<const void*> pointers_;
  std::unique_ptr<ArrowColumn> dictionary_;
};

// A record batch over the columns, which it owns.
class ArrowTable {
 public:
  explicit ArrowTable(std::vector<ArrowColumn> columns) : columns_(std::move(columns)) {
    for (ArrowColumn& c : columns_) {
      schemas_.push_back(&c.schema_);
      arrays_.push_back(&c.array_);
    }
    int64_t length = 0;
    for (const ArrowColumn& c : columns_) length = std::max(length, c.array_.length);
    schema = ArrowSchema{"+s", "", nullptr, 0, static_cast<int64_t>(columns_.size()),
                         schemas_.data(), nullptr, nullptr, nullptr};
    array = ArrowArray{length, 0, 0, 1, static_cast<int64_t>(columns_.size()), validity_,
                       arrays_.data(), nullptr, nullptr, nullptr};
  }
  ArrowTable(const ArrowTable&) = delete;

  ArrowSchema schema;
  ArrowArray array;

 private:
  std::vector<ArrowColumn> columns_;
  std::vector<ArrowSchema*> schemas_;
  std::vector<ArrowArray*> arrays_;
  const void* validity_[1] = {nullptr};
};

}  // namespace orvane::testing
