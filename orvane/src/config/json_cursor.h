#pragma once
// The configuration reader's JSON lexer: one forward pass over a text held whole. The
// cursor counts the bytes it has looked at, and a byte only peeked at counts as read, so a
// message raised after looking ahead is placed at the byte looked at. Positions (line and
// column) are worked out from that count once, when a message needs one.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "config/config_reader.h"
#include "config/read_messages.h"

namespace orvane::config_detail {

class JsonCursor {
 public:
  static constexpr int kEnd = -1;

  // With `releasable`, the text is in pages of its own that release_read() may give back.
  JsonCursor(std::string_view text, bool releasable)
      : data_(text.data()), size_(text.size()), releasable_(releasable) {}

  // The next byte, counted as read from now on; kEnd at the end.
  int peek() {
    if (next_ >= size_) return kEnd;
    peeked_ = true;
    return static_cast<unsigned char>(data_[next_]);
  }
  // Takes the byte peek() showed.
  void eat() {
    ++next_;
    peeked_ = false;
  }
  int next() {
    int byte = peek();
    if (byte != kEnd) eat();
    return byte;
  }
  // Passes blanks; the next other byte, peeked, or kEnd.
  int skip_blanks() {
    for (;;) {
      int byte = peek();
      if (byte != ' ' && byte != '\n' && byte != '\t' && byte != '\r') return byte;
      eat();
    }
  }

  // Each reader returns false once it failed; the first failure is kept.
  bool fail(std::variant<std::string, NestingTooDeep> message) {
    failure_ = Failure{std::move(message), counted()};
    return false;
  }
  // A failure of a whole value (a record, an enumeration), placed by the nearest enclosing
  // container once it has looked past its last token.
  bool fail_unplaced(std::string message) {
    failure_ = Failure{std::move(message), std::nullopt};
    return false;
  }
  void place() {
    if (failure_ && !failure_->at) failure_->at = counted();
  }
  JsonError error() const;

  // The end of an object that names a variant: it holds that one member. A comma there is
  // no value; the message stands at the last of the commas read in a row.
  bool end_variant();

  // Gives the whole pages of bytes read so far back to the system (when the text allows
  // it), so that a large file does not stay resident beside the records read from it.
  // Messages are placed after this point only; the lines before it are kept as a count.
  void release_read();

  // Opening a container: false (with the failure) past the nesting limit.
  bool enter() {
    if (depth_ >= kMaxNesting) return fail(NestingTooDeep{});
    ++depth_;
    return true;
  }
  void leave() { --depth_; }

  // After the opening quote: the text, borrowed from the document when it holds no escape
  // and from the cursor's scratch space otherwise (valid until the next string), checked
  // for UTF-8 at the closing quote.
  bool string(std::string_view& out);
  // The same, without keeping the text or checking its UTF-8: for skipped values.
  bool skip_string();
  // The rest of `null`, `true` or `false` after its first byte.
  bool literal(std::string_view rest);
  // A number; `negative` when its minus sign was eaten already. `named` reads it where a
  // name was due, only to name it in a message: a leading zero ends it there and a
  // number too large for a double is infinite, not a failure.
  bool number(bool negative, Scalar& out, bool named = false);

  // Where a sequence or map stands: before its first element, or after one.
  struct Items {
    bool first = true;
  };
  // The next element of a sequence: false with a failure, or true with `more` saying
  // whether an element follows (the cursor stands before it).
  bool next_element(Items& items, bool& more);
  // The next key of a map, read into `key`, with the colon after it.
  bool next_key(Items& items, bool& more, std::string_view& key);
  // The colon between a key and its value.
  bool colon();
  // The end of a container whose items were all read. With `report` false (the items
  // failed already), it only moves past blanks and the closing byte, which places an
  // unplaced failure where a reader that looked for the end would.
  bool end_sequence(bool report);
  bool end_map(bool report);

  // A value of no interest, checked for well-formedness only.
  bool skip_value();
  // "invalid type: <what stands here>, expected <expected>", reading the scalar that
  // stands there first (as a name would be read when `named`).
  bool invalid_type_here(std::string_view expected, bool named = false);

 private:
  struct Failure {
    std::variant<std::string, NestingTooDeep> message;
    std::optional<size_t> at;  // bytes counted when it was placed
  };

  size_t counted() const { return next_ + (peeked_ ? 1 : 0); }
  bool escape();
  bool hex4(unsigned& out);
  bool skip_container(int open);

  const char* data_;
  size_t size_;
  size_t next_ = 0;      // the first byte not yet eaten
  bool peeked_ = false;  // whether data_[next_] was looked at
  size_t depth_ = 0;
  bool releasable_;
  size_t released_ = 0;        // bytes given back, from the start
  size_t released_lines_ = 0;  // newlines among them
  size_t line_start_ = 0;      // where the line after the last of them starts
  std::optional<Failure> failure_;
  std::string scratch_;
};

}  // namespace orvane::config_detail
