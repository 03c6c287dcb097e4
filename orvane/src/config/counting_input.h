#pragma once
// The byte source of the configuration reader: reads a file descriptor (or an in-memory text)
// through one fixed 8192-byte buffer and keeps the position of the last byte handed out,
// together with the few lexical landmarks the reader needs to place its messages (where
// the latest string, bare word and separator began).

#include <array>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string_view>

namespace orvane::config_detail {

// Line and column as messages show them: 1-based lines; the column counts the bytes read
// on the current line, so it is 0 right after a newline.
struct TextPosition {
  size_t line = 1;
  size_t column = 0;
};

class CountingInput {
 public:
  static constexpr size_t kBufferSize = 8192;
  static constexpr int kEnd = -1;

  explicit CountingInput(int fd) : fd_(fd) {}
  explicit CountingInput(std::string_view text) : text_(text), from_text_(true) {}
  CountingInput(const CountingInput&) = delete;
  CountingInput& operator=(const CountingInput&) = delete;

  // True when another byte can be read; fills the buffer when it is used up. A read
  // failure ends the input and is kept in read_errno().
  bool has_more() { return pos_ < len_ || refill(); }
  // The next byte, not yet counted. Only after has_more() returned true. Inside a string
  // of a value that is being skipped, bytes above 0x7F come out as a plain letter: a
  // skipped member is never an error, so its text is not checked for valid UTF-8.
  char peek() const {
    unsigned char byte = buffer_[pos_];
    if (skipping_ && in_string_ && byte >= 0x80) return 'x';
    return static_cast<char>(byte);
  }
  // Set while the parser reads a value that the reader skips.
  void set_skipping(bool skipping) { skipping_ = skipping; }
  // Counts the byte peek() shows as read. Inline with track(): the parser calls this for
  // every byte of the file.
  void advance();
  // has_more(), peek() and advance() in one: the byte read, or kEnd.
  int next();

  size_t consumed() const { return consumed_; }
  bool at_end() const { return ended_; }
  int read_errno() const { return read_errno_; }
  unsigned char last_byte() const { return last_byte_; }
  TextPosition current() const { return {line_, column_}; }
  // The position of a byte read recently: on the current line or the one before it.
  TextPosition position_of(size_t offset) const;

  // Offsets of the latest opening quote, the first byte of the latest run of bytes outside
  // strings that are neither blanks nor punctuation (numbers and words), and the latest
  // comma outside strings.
  size_t string_start() const { return string_start_; }
  size_t bare_start() const { return bare_start_; }
  size_t last_comma() const { return last_comma_; }
  size_t comma_count() const { return comma_count_; }
  // A token's first byte outside strings: punctuation, an opening quote, or the start of a
  // run of other non-blank bytes.
  struct TokenStart {
    size_t offset = 0;
    unsigned char byte = 0;
  };
  // Copies the starts of tokens read at or after `offset` (oldest first, at most `max`).
  size_t tokens_since(size_t offset, TokenStart* out, size_t max) const;
  size_t last_bare_byte() const { return last_bare_; }
  // The current bare run began with "0" or "-0" and a digit followed it.
  bool leading_zero() const { return leading_zero_; }
  // The last byte read completed the four hex digits of a \u escape.
  bool escape_just_closed() const { return escape_closed_; }
  bool first_byte_was(unsigned char byte) const { return consumed_ > 0 && first_byte_ == byte; }

 private:
  bool refill();
  void track(unsigned char byte);

  int fd_ = -1;
  std::string_view text_;
  bool from_text_ = false;
  std::array<unsigned char, kBufferSize> buffer_{};
  size_t pos_ = 0;
  size_t len_ = 0;
  bool ended_ = false;
  int read_errno_ = 0;

  size_t consumed_ = 0;
  size_t line_ = 1;
  size_t column_ = 0;
  size_t line_start_ = 0;
  size_t prev_line_start_ = 0;
  unsigned char last_byte_ = 0;
  unsigned char first_byte_ = 0;

  bool skipping_ = false;

  // Lexical state outside and inside strings.
  bool in_string_ = false;
  bool escape_ = false;
  int hex_left_ = 0;
  bool escape_closed_ = false;
  bool in_bare_ = false;
  size_t bare_len_ = 0;
  char bare_prefix_[2] = {0, 0};
  bool leading_zero_ = false;
  size_t string_start_ = 0;
  size_t bare_start_ = 0;
  size_t last_comma_ = 0;
  size_t comma_count_ = 0;
  size_t last_bare_ = 0;
  std::array<TokenStart, 8> tokens_{};
  size_t token_count_ = 0;
};

inline bool is_blank(unsigned char byte) {
  return byte == ' ' || byte == '\t' || byte == '\n' || byte == '\r';
}

inline bool is_punctuation(unsigned char byte) {
  return byte == '{' || byte == '}' || byte == '[' || byte == ']' || byte == ',' ||
         byte == ':';
}

inline void CountingInput::advance() {
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

// Follows strings (with their escapes) and the runs of bytes between punctuation, so the
// reader can tell where a token began after the parser has moved past it.
inline void CountingInput::track(unsigned char byte) {
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

// An input iterator over a CountingInput, so that nlohmann's parser pulls bytes one at a
// time through it; a default-constructed iterator is the end.
class CountingIterator {
 public:
  using iterator_category = std::input_iterator_tag;
  using value_type = char;
  using difference_type = std::ptrdiff_t;
  using pointer = const char*;
  using reference = char;

  CountingIterator() = default;
  explicit CountingIterator(CountingInput* input) : input_(input) {}

  char operator*() const { return input_->peek(); }
  CountingIterator& operator++() {
    input_->advance();
    return *this;
  }
  CountingIterator operator++(int) {
    CountingIterator before = *this;
    input_->advance();
    return before;
  }
  friend bool operator==(const CountingIterator& a, const CountingIterator& b) {
    return a.finished() == b.finished();
  }
  friend bool operator!=(const CountingIterator& a, const CountingIterator& b) { return !(a == b); }

 private:
  bool finished() const { return input_ == nullptr || !input_->has_more(); }
  CountingInput* input_ = nullptr;
};

}  // namespace orvane::config_detail
