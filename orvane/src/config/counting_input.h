#pragma once
// The byte source of the configuration reader. It holds the whole text (a file is read in
// full first) and hands it to nlohmann's parser one byte at a time. Handing out a byte is
// only a pointer step: the lexical landmarks that place messages (line and column, where
// the latest token, bare word and separator began) are worked out from the bytes already
// read only when a message needs them, which is once per failed read at most.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace orvane::config_detail {

// Line and column as messages show them: 1-based lines; the column counts the bytes read
// on the current line, so it is 0 right after a newline.
struct TextPosition {
  size_t line = 1;
  size_t column = 0;
};

inline bool is_blank(unsigned char byte) {
  return byte == ' ' || byte == '\t' || byte == '\n' || byte == '\r';
}

inline bool is_punctuation(unsigned char byte) {
  return byte == '{' || byte == '}' || byte == '[' || byte == ']' || byte == ',' ||
         byte == ':';
}

// A byte of a number or word: neither a blank, punctuation nor a quote.
inline bool is_bare(unsigned char byte) {
  return !is_blank(byte) && !is_punctuation(byte) && byte != '"';
}

// A token's first byte outside strings: punctuation, an opening quote, or the start of a
// run of other non-blank bytes.
struct TokenStart {
  size_t offset = 0;
  unsigned char byte = 0;
};

// Follows JSON strings byte by byte: whether the next byte is inside one, and where its
// escapes are.
struct StringTracker {
  bool in_string = false;
  bool escape = false;
  int hex_left = 0;

  // Takes one byte; true when it completed the four hex digits of a \u escape.
  bool feed(unsigned char byte) {
    if (!in_string) {
      if (byte == '"') *this = StringTracker{true, false, 0};
      return false;
    }
    if (hex_left > 0) return --hex_left == 0;
    if (escape) {
      escape = false;
      if (byte == 'u') hex_left = 4;
    } else if (byte == '\\') {
      escape = true;
    } else if (byte == '"') {
      in_string = false;
    }
    return false;
  }
};

// The landmarks of a prefix of the text, built by feeding it byte by byte: strings (with
// their escapes) and the runs of bytes between punctuation are followed, so the reader can
// tell where a token began after the parser has moved past it.
class Landmarks {
 public:
  void feed(unsigned char byte, size_t offset);

  TextPosition current() const { return {line_, column_}; }
  // The position of a byte read recently: on the current line or the one before it.
  TextPosition position_of(size_t offset) const;
  size_t bare_start() const { return bare_start_; }
  size_t last_bare_byte() const { return last_bare_; }
  size_t last_comma() const { return last_comma_; }
  bool escape_just_closed() const { return escape_closed_; }
  // Copies the starts of tokens read at or after `offset` (oldest first, at most `max`).
  size_t tokens_since(size_t offset, TokenStart* out, size_t max) const;

 private:
  size_t line_ = 1;
  size_t column_ = 0;
  size_t line_start_ = 0;
  size_t prev_line_start_ = 0;

  StringTracker strings_;
  bool escape_closed_ = false;
  bool in_bare_ = false;
  size_t bare_start_ = 0;
  size_t last_comma_ = 0;
  size_t last_bare_ = 0;
  std::array<TokenStart, 8> tokens_{};
  size_t token_count_ = 0;
};

// The largest configuration read: far above any real one, low enough that a wrong path
// (a device, an endless pipe, a huge file) cannot take all the memory there is.
inline constexpr size_t kMaxConfigBytes = size_t{1} << 30;

class CountingInput {
 public:
  static constexpr int kEnd = -1;

  // Reads everything `fd` holds, up to kMaxConfigBytes.
  explicit CountingInput(int fd);
  // Takes a text already in memory, under the same size limit as a file.
  explicit CountingInput(std::string_view text);
  CountingInput(const CountingInput&) = delete;
  CountingInput& operator=(const CountingInput&) = delete;

  // True when another byte can be read; the first call past the last byte marks the end.
  bool has_more() {
    if (pos_ < size_) return true;
    ended_ = true;
    return false;
  }
  // The next byte, not yet counted. Only after has_more() returned true. Inside a string
  // of a value that is being skipped, bytes above 0x7F come out as a plain letter: a
  // skipped member is never an error, so its text is not checked for valid UTF-8.
  char peek() const {
    auto byte = static_cast<unsigned char>(data_[pos_]);
    if (skipping_ && skipped_strings_.in_string && byte >= 0x80) return 'x';
    return static_cast<char>(byte);
  }
  // Counts the byte peek() shows as read.
  void advance() {
    auto byte = static_cast<unsigned char>(data_[pos_++]);
    if (skipping_) skipped_strings_.feed(byte);
  }
  // has_more(), peek() and advance() in one: the byte read, or kEnd.
  int next();

  // Set while the parser reads a value that the reader skips. `inside_string` says that
  // the parser already read the opening quote of the next token (the byte it looked at
  // past a number).
  void set_skipping(bool skipping, bool inside_string);

  size_t consumed() const { return pos_; }
  bool at_end() const { return ended_; }
  // Why reading the file stopped early (an OS error, no memory, a file over the size
  // limit); empty when it was read whole.
  const std::string& read_error() const { return read_error_; }
  unsigned char last_byte() const { return pos_ > 0 ? static_cast<unsigned char>(data_[pos_ - 1]) : 0; }
  bool first_byte_was(unsigned char byte) const {
    return pos_ > 0 && static_cast<unsigned char>(data_[0]) == byte;
  }

  // The number or word that ends at `end` (its last byte is before `end`): where its run
  // of bare bytes began, and whether it starts with "0" or "-0" followed by a digit,
  // counting the byte the parser may have read past it.
  struct BareRun {
    size_t start = 0;
    bool leading_zero = false;
  };
  BareRun bare_run_ending_at(size_t end) const;
  // Where the string whose closing quote is the byte before `end` opened.
  size_t string_start_before(size_t end) const;

  // The landmarks of everything read so far.
  const Landmarks& landmarks() const;
  TextPosition current() const { return landmarks().current(); }
  TextPosition position_of(size_t offset) const { return landmarks().position_of(offset); }

 private:
  void read_all(int fd);

  std::unique_ptr<char[]> owned_;  // the file's bytes; empty for an in-memory text
  const char* data_ = nullptr;
  size_t size_ = 0;
  size_t pos_ = 0;
  bool ended_ = false;
  std::string read_error_;
  // While a skipped value is read, its strings are followed for peek().
  bool skipping_ = false;
  StringTracker skipped_strings_;

  mutable Landmarks landmarks_;
  mutable size_t landmarks_end_ = 0;
};

// The input nlohmann's parser reads from: one byte at a time, straight from the text.
class ParserInput {
 public:
  using char_type = char;

  explicit ParserInput(CountingInput& input) : input_(&input) {}

  std::char_traits<char>::int_type get_character() {
    if (!input_->has_more()) return std::char_traits<char>::eof();
    char byte = input_->peek();
    input_->advance();
    return std::char_traits<char>::to_int_type(byte);
  }

 private:
  CountingInput* input_;
};

}  // namespace orvane::config_detail
