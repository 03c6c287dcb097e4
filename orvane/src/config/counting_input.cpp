#include "config/counting_input.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace orvane::config_detail {

// The slow path of has_more(): the buffer is used up, so read the next block.
bool CountingInput::refill() {
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

}  // namespace orvane::config_detail
