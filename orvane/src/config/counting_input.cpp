#include "config/counting_input.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <cerrno>
#include <new>
#include <optional>
#include <string>
#include <string_view>

#include "base/os_error.h"

namespace orvane::config_detail {

void Landmarks::feed(unsigned char byte, size_t offset) {
  if (byte == '\n') {
    ++line_;
    column_ = 0;
    prev_line_start_ = line_start_;
    line_start_ = offset + 1;
  } else {
    ++column_;
  }
  if (strings_.in_string) {
    escape_closed_ = strings_.feed(byte);
    return;
  }
  escape_closed_ = false;
  bool token_start = !is_blank(byte) && (!is_bare(byte) || !in_bare_);
  if (token_start) {
    tokens_[token_count_ % tokens_.size()] = {offset, byte};
    ++token_count_;
  }
  if (!is_bare(byte)) {
    in_bare_ = false;
    if (byte == '"') {
      strings_.feed(byte);
    } else if (byte == ',') {
      last_comma_ = offset;
    }
    return;
  }
  last_bare_ = offset;
  if (!in_bare_) {
    in_bare_ = true;
    bare_start_ = offset;
  }
}

TextPosition Landmarks::position_of(size_t offset) const {
  if (offset >= line_start_) return {line_, offset - line_start_ + 1};
  return {line_ - 1, offset - prev_line_start_ + 1};
}

size_t Landmarks::tokens_since(size_t offset, TokenStart* out, size_t max) const {
  size_t kept = std::min(token_count_, tokens_.size());
  size_t first = token_count_ - kept;
  while (first < token_count_ && tokens_[first % tokens_.size()].offset < offset) ++first;
  size_t n = 0;
  for (size_t i = first; i < token_count_ && n < max; ++i) out[n++] = tokens_[i % tokens_.size()];
  return n;
}

namespace {

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

// Reads the whole file up front; a failure ends the text where it happened and is kept in
// read_error(). Running out of memory is such a failure, not an exception.
CountingInput::CountingInput(int fd) {
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
CountingInput::CountingInput(std::string_view text) {
  if (text.size() > kMaxConfigBytes) {
    read_error_ = too_large(text.size());
    return;
  }
  data_ = text.data();
  size_ = text.size();
}

void CountingInput::read_all(int fd) {
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
  // Not zero-filled first: every byte handed out is one read() wrote.
  owned_ = std::make_unique_for_overwrite<char[]>(capacity);
  size_t used = 0;
  // A stream (a pipe, a device) may never end: reading stops as soon as what came shows the
  // document cannot be valid, which is certain at a NUL byte (the parser takes it for the
  // end) or at a first non-blank byte that begins no value.
  size_t looked_at = 0;
  bool first_seen = false;
  auto cannot_be_valid = [&] {
    for (; looked_at < used; ++looked_at) {
      auto byte = static_cast<unsigned char>(owned_[looked_at]);
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
      auto larger = std::make_unique_for_overwrite<char[]>(larger_capacity);
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

int CountingInput::next() {
  if (!has_more()) return kEnd;
  auto byte = static_cast<unsigned char>(data_[pos_]);
  advance();
  return byte;
}

void CountingInput::set_skipping(bool skipping, bool inside_string) {
  if (skipping && !skipping_) {
    skipped_strings_ = StringTracker{};
    skipped_strings_.in_string = inside_string;
  }
  skipping_ = skipping;
}

CountingInput::BareRun CountingInput::bare_run_ending_at(size_t end) const {
  auto at = [&](size_t i) { return static_cast<unsigned char>(data_[i]); };
  BareRun run;
  run.start = end;
  while (run.start > 0 && is_bare(at(run.start - 1))) --run.start;
  // The run goes on through a bare byte the parser read past the token.
  size_t run_end = end;
  while (run_end < pos_ && is_bare(at(run_end))) ++run_end;
  size_t length = run_end - run.start;
  auto digit = [&](size_t i) { return at(i) >= '0' && at(i) <= '9'; };
  size_t s = run.start;
  run.leading_zero = (length >= 2 && at(s) == '0' && digit(s + 1)) ||
                     (length >= 3 && at(s) == '-' && at(s + 1) == '0' && digit(s + 2));
  return run;
}

size_t CountingInput::string_start_before(size_t end) const {
  // Inside a string the only unescaped quote is the closing one, so the opening quote is
  // the nearest earlier quote behind an even number of backslashes.
  size_t i = end - 1;
  while (i > 0) {
    --i;
    if (data_[i] != '"') continue;
    size_t backslashes = 0;
    while (backslashes < i && data_[i - 1 - backslashes] == '\\') ++backslashes;
    if (backslashes % 2 == 0) return i;
  }
  return 0;
}

const Landmarks& CountingInput::landmarks() const {
  for (; landmarks_end_ < pos_; ++landmarks_end_) {
    landmarks_.feed(static_cast<unsigned char>(data_[landmarks_end_]), landmarks_end_);
  }
  return landmarks_;
}

}  // namespace orvane::config_detail
