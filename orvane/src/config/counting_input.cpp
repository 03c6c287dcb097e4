#include "config/counting_input.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace orvane::config_detail {
namespace {

bool is_blank(unsigned char byte) {
  return byte == ' ' || byte == '\t' || byte == '\n' || byte == '\r';
}

bool is_punctuation(unsigned char byte) {
  return byte == '{' || byte == '}' || byte == '[' || byte == ']' || byte == ',' ||
         byte == ':';
}

}  // namespace

bool CountingInput::has_more() {
  if (pos_ < len_) return true;
  if (ended_) return false;
  pos_ = 0;
  len_ = 0;
  if (from_text_) {
    len_ = std::min(text_.size(), kBufferSize);
    std::memcpy(buffer_.data(), text_.data(), len_);
    text_.remove_prefix(len_);
  } else {
    for (;;) {
      ssize_t got = ::read(fd_, buffer_.data(), buffer_.size());
      if (got >= 0) {
        len_ = static_cast<size_t>(got);
        break;
      }
      if (errno != EINTR) {
        read_errno_ = errno;
        break;
      }
    }
  }
  if (len_ == 0) ended_ = true;
  return len_ > 0;
}

void CountingInput::advance() {
  unsigned char byte = buffer_[pos_++];
  if (consumed_ == 0) first_byte_ = byte;
  ++consumed_;
  if (byte == '\n') {
    ++line_;
    column_ = 0;
    prev_line_start_ = line_start_;
    line_start_ = consumed_;
  } else {
    ++column_;
  }
  track(byte);
  last_byte_ = byte;
}

int CountingInput::next() {
  if (!has_more()) return kEnd;
  unsigned char byte = buffer_[pos_];
  advance();
  return byte;
}

TextPosition CountingInput::position_of(size_t offset) const {
  if (offset >= line_start_) return {line_, offset - line_start_ + 1};
  return {line_ - 1, offset - prev_line_start_ + 1};
}

size_t CountingInput::tokens_since(size_t offset, TokenStart* out, size_t max) const {
  size_t kept = std::min(token_count_, tokens_.size());
  size_t first = token_count_ - kept;
  while (first < token_count_ && tokens_[first % tokens_.size()].offset < offset) ++first;
  size_t n = 0;
  for (size_t i = first; i < token_count_ && n < max; ++i) out[n++] = tokens_[i % tokens_.size()];
  return n;
}

// Follows strings (with their escapes) and the runs of bytes between punctuation, so the
// reader can tell where a token began after the parser has moved past it.
void CountingInput::track(unsigned char byte) {
  size_t offset = consumed_ - 1;
  escape_closed_ = false;
  if (in_string_) {
    if (hex_left_ > 0) {
      escape_closed_ = --hex_left_ == 0;
    } else if (escape_) {
      escape_ = false;
      if (byte == 'u') hex_left_ = 4;
    } else if (byte == '\\') {
      escape_ = true;
    } else if (byte == '"') {
      in_string_ = false;
    }
    return;
  }
  bool token_start = is_punctuation(byte) || byte == '"' || (!is_blank(byte) && !in_bare_);
  if (token_start) {
    tokens_[token_count_ % tokens_.size()] = {offset, byte};
    ++token_count_;
  }
  if (is_blank(byte) || is_punctuation(byte) || byte == '"') {
    in_bare_ = false;
    if (byte == '"') {
      in_string_ = true;
      escape_ = false;
      hex_left_ = 0;
      string_start_ = offset;
    } else if (byte == ',') {
      last_comma_ = offset;
      ++comma_count_;
    }
    return;
  }
  last_bare_ = offset;
  if (!in_bare_) {
    in_bare_ = true;
    bare_start_ = offset;
    bare_len_ = 0;
    leading_zero_ = false;
  }
  if (byte >= '0' && byte <= '9' &&
      ((bare_len_ == 1 && bare_prefix_[0] == '0') ||
       (bare_len_ == 2 && bare_prefix_[0] == '-' && bare_prefix_[1] == '0'))) {
    leading_zero_ = true;
  }
  if (bare_len_ < 2) bare_prefix_[bare_len_] = static_cast<char>(byte);
  ++bare_len_;
}

}  // namespace orvane::config_detail
