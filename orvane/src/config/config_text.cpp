#include "config/config_text.h"

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <new>
#include <optional>

#include "base/os_error.h"

namespace orvane::config_detail {
namespace {

bool is_blank(unsigned char byte) {
  return byte == ' ' || byte == '\t' || byte == '\n' || byte == '\r';
}

// Bytes that begin no JSON value: when the first non-blank byte of a stream is one of them,
// the document fails right there, whatever follows.
bool begins_no_value(unsigned char byte) {
  return std::string_view("{[\"-0123456789tfn").find(static_cast<char>(byte)) ==
         std::string_view::npos;
}

std::string too_large(std::optional<uint64_t> file_size) {
  std::string text = "configuration is larger than the limit of " +
                     std::to_string(kMaxConfigBytes) + " bytes";
  if (file_size) text += " (the file holds " + std::to_string(*file_size) + " bytes)";
  return text;
}

}  // namespace

void ConfigText::Unmap::operator()(char* pages) const { ::munmap(pages, size); }

namespace {

// Anonymous pages rather than the heap, so that pages read past can be given back.
std::unique_ptr<char, ConfigText::Unmap> map_pages(size_t size) {
  void* pages = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (pages == MAP_FAILED) throw std::bad_alloc();
  return std::unique_ptr<char, ConfigText::Unmap>(static_cast<char*>(pages), ConfigText::Unmap{size});
}

}  // namespace

// A failure ends the text where it happened and is kept in read_error(). Running out of
// memory is such a failure, not an exception.
ConfigText::ConfigText(int fd) {
  try {
    read_all(fd);
  } catch (const std::bad_alloc&) {
    owned_.reset();
    data_ = nullptr;
    size_ = 0;
    read_error_ = os_error_text(ENOMEM);
  }
}

// A text in memory is what a regular file with its bytes would be once read, and a text
// over the limit fails as that file would, before any of it is looked at.
ConfigText::ConfigText(std::string_view text) {
  if (text.size() > kMaxConfigBytes) {
    read_error_ = too_large(text.size());
    return;
  }
  data_ = text.data();
  size_ = text.size();
}

void ConfigText::read_all(int fd) {
  // A regular file is read in one go (the extra byte lets that read see the end), after
  // its size is checked against the limit.
  struct stat info {};
  const bool regular = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
  size_t capacity = 1 << 16;
  if (regular && info.st_size > 0) {
    const auto file_size = static_cast<uint64_t>(info.st_size);
    if (file_size > kMaxConfigBytes) {
      read_error_ = too_large(file_size);
      return;
    }
    capacity = static_cast<size_t>(file_size) + 1;
  }
  owned_ = map_pages(capacity);
  size_t used = 0;
  // A stream (a pipe, a device) may never end: reading stops as soon as what came shows the
  // document cannot be valid, which is certain at a NUL byte (no token holds one, and in a
  // string it is a control character) or at a first non-blank byte that begins no value.
  size_t looked_at = 0;
  bool first_seen = false;
  auto cannot_be_valid = [&] {
    for (; looked_at < used; ++looked_at) {
      auto byte = static_cast<unsigned char>(owned_.get()[looked_at]);
      if (byte == 0) return true;
      if (!first_seen && !is_blank(byte)) {
        first_seen = true;
        if (begins_no_value(byte)) return true;
      }
    }
    return false;
  };
  for (;;) {
    if (used == capacity) {
      if (used > kMaxConfigBytes) {
        read_error_ = too_large(regular ? std::optional<uint64_t>(used) : std::nullopt);
        break;
      }
      const size_t larger_capacity = std::min(2 * capacity, kMaxConfigBytes + 1);
      auto larger = map_pages(larger_capacity);
      std::memcpy(larger.get(), owned_.get(), used);
      owned_ = std::move(larger);
      capacity = larger_capacity;
    }
    ssize_t got = ::read(fd, owned_.get() + used, capacity - used);
    if (got > 0) {
      used += static_cast<size_t>(got);
      if (!regular && cannot_be_valid()) break;
      continue;
    }
    if (got == 0) break;
    if (errno == EINTR) continue;
    read_error_ = os_error_text(errno);
    break;
  }
  data_ = owned_.get();
  size_ = used;
}

}  // namespace orvane::config_detail
