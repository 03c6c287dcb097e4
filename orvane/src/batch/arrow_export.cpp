#include "batch/arrow_export.h"

#include <cerrno>
#include <cstring>
#include <limits>
#include <memory>
#include <utility>

namespace orvane {

ColumnBuilder::ColumnBuilder(std::string name, Type type) : name_(std::move(name)), type_(type) {
  if (type_ == Type::Utf8) offsets_.push_back(0);
}

void ColumnBuilder::reserve(int64_t rows) {
  if (length_ + rows > capacity_) grow(length_ + rows - capacity_);
}

void ColumnBuilder::grow(int64_t rows) {
  capacity_ += rows;
  const auto total = static_cast<size_t>(capacity_);
  validity_.resize((total + 7) / 8);
  switch (type_) {
    case Type::Utf8: offsets_.resize(total + 1); break;
    case Type::Int16: int16s_.resize(total); break;
    case Type::Int64: int64s_.resize(total); break;
  }
}

void ColumnBuilder::grow_text(size_t bytes) {
  const size_t capacity = std::max(text_size_ + bytes, std::max<size_t>(2 * text_capacity_, 256));
  auto grown = std::make_unique_for_overwrite<char[]>(capacity);
  if (text_size_ > 0) std::memcpy(grown.get(), text_.get(), text_size_);
  text_ = std::move(grown);
  text_capacity_ = capacity;
}

bool ColumnBuilder::has_room(size_t bytes) const {
  return text_size_ + bytes <= static_cast<size_t>(std::numeric_limits<int32_t>::max());
}

namespace {

const char* format_of(ColumnBuilder::Type type) {
  switch (type) {
    case ColumnBuilder::Type::Utf8: return "u";
    case ColumnBuilder::Type::Int16: return "s";
    case ColumnBuilder::Type::Int64: return "l";
  }
  return "n";
}

// Each child owns its column, so a consumer may move a child out of its parent and release
// the two at different times, as the interface allows.
struct ChildArray {
  ColumnBuilder column;
  const void* buffers[3] = {nullptr, nullptr, nullptr};
};

void release_child(ArrowArray* array) {
  delete static_cast<ChildArray*>(array->private_data);
  array->release = nullptr;
}

void export_child(ColumnBuilder&& column, ArrowArray* out) {
  auto* owned = new ChildArray{std::move(column)};
  const ColumnBuilder& c = owned->column;
  owned->buffers[0] = c.validity().data();
  int64_t n_buffers = 2;
  switch (c.type()) {
    case ColumnBuilder::Type::Utf8:
      owned->buffers[1] = c.offsets().data();
      owned->buffers[2] = c.data().data();
      n_buffers = 3;
      break;
    case ColumnBuilder::Type::Int16: owned->buffers[1] = c.int16s().data(); break;
    case ColumnBuilder::Type::Int64: owned->buffers[1] = c.int64s().data(); break;
  }
  *out = ArrowArray{
      .length = c.length(),
      .null_count = c.null_count(),
      .offset = 0,
      .n_buffers = n_buffers,
      .n_children = 0,
      .buffers = owned->buffers,
      .children = nullptr,
      .dictionary = nullptr,
      .release = release_child,
      .private_data = owned,
  };
}

struct ParentArray {
  std::vector<ArrowArray> children;
  std::vector<ArrowArray*> pointers;
  const void* buffers[1] = {nullptr};
};

void release_parent(ArrowArray* array) {
  auto* owned = static_cast<ParentArray*>(array->private_data);
  for (ArrowArray& child : owned->children) {
    if (child.release != nullptr) child.release(&child);
  }
  delete owned;
  array->release = nullptr;
}

struct ChildSchema {
  std::string name;
};

void release_child_schema(ArrowSchema* schema) {
  delete static_cast<ChildSchema*>(schema->private_data);
  schema->release = nullptr;
}

struct ParentSchema {
  std::vector<ArrowSchema> children;
  std::vector<ArrowSchema*> pointers;
};

void release_parent_schema(ArrowSchema* schema) {
  auto* owned = static_cast<ParentSchema*>(schema->private_data);
  for (ArrowSchema& child : owned->children) {
    if (child.release != nullptr) child.release(&child);
  }
  delete owned;
  schema->release = nullptr;
}

struct Stream {
  BuiltBatch shape;
  std::vector<BuiltBatch> batches;
  size_t next = 0;
};

int stream_schema(ArrowArrayStream* stream, ArrowSchema* out) {
  export_schema(static_cast<Stream*>(stream->private_data)->shape, out);
  return 0;
}

int stream_next(ArrowArrayStream* stream, ArrowArray* out) {
  auto* owned = static_cast<Stream*>(stream->private_data);
  if (owned->next == owned->batches.size()) {
    out->release = nullptr;  // the end of the stream
    return 0;
  }
  export_batch(std::move(owned->batches[owned->next]), out);
  owned->batches[owned->next].clear();
  ++owned->next;
  return 0;
}

const char* stream_error(ArrowArrayStream*) { return nullptr; }

void release_stream(ArrowArrayStream* stream) {
  delete static_cast<Stream*>(stream->private_data);
  stream->release = nullptr;
}

}  // namespace

void export_batch(BuiltBatch&& batch, ArrowArray* out) {
  auto* owned = new ParentArray;
  const int64_t length = batch.empty() ? 0 : batch.front().length();
  owned->children.resize(batch.size());
  for (size_t i = 0; i < batch.size(); ++i) {
    export_child(std::move(batch[i]), &owned->children[i]);
    owned->pointers.push_back(&owned->children[i]);
  }
  *out = ArrowArray{
      .length = length,
      .null_count = 0,
      .offset = 0,
      .n_buffers = 1,
      .n_children = static_cast<int64_t>(batch.size()),
      .buffers = owned->buffers,
      .children = owned->pointers.data(),
      .dictionary = nullptr,
      .release = release_parent,
      .private_data = owned,
  };
}

void export_schema(const BuiltBatch& shape, ArrowSchema* out) {
  auto* owned = new ParentSchema;
  owned->children.resize(shape.size());
  for (size_t i = 0; i < shape.size(); ++i) {
    auto* child = new ChildSchema{shape[i].name()};
    owned->children[i] = ArrowSchema{
        .format = format_of(shape[i].type()),
        .name = child->name.c_str(),
        .metadata = nullptr,
        .flags = ARROW_FLAG_NULLABLE,
        .n_children = 0,
        .children = nullptr,
        .dictionary = nullptr,
        .release = release_child_schema,
        .private_data = child,
    };
    owned->pointers.push_back(&owned->children[i]);
  }
  *out = ArrowSchema{
      .format = "+s",
      .name = "",
      .metadata = nullptr,
      .flags = 0,
      .n_children = static_cast<int64_t>(shape.size()),
      .children = owned->pointers.data(),
      .dictionary = nullptr,
      .release = release_parent_schema,
      .private_data = owned,
  };
}

void export_stream(BuiltBatch shape, std::vector<BuiltBatch> batches, ArrowArrayStream* out) {
  auto* owned = new Stream{std::move(shape), std::move(batches)};
  *out = ArrowArrayStream{
      .get_schema = stream_schema,
      .get_next = stream_next,
      .get_last_error = stream_error,
      .release = release_stream,
      .private_data = owned,
  };
}

}  // namespace orvane
