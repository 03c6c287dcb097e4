#pragma once
// Appends text to a string through a raw cursor. A writer asks for room once per piece of
// known size (room()), then writes it without the capacity check, length update and
// terminator that every std::string append pays. Used where a text is assembled on every
// request (exposure events).

#include <algorithm>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "base/json.h"

namespace orvane {

class TextWriter {
 public:
  // The longest decimal form of a 64-bit number.
  static constexpr size_t kNumberRoom = 20;
  // Unused capacity a finished text may keep.
  static constexpr size_t kKeptSpare = 4096;

  // Writes after what `out` already holds, with room for `expected` bytes to begin with.
  TextWriter(std::string& out, size_t expected) : out_(out) {
    const size_t used = out_.size();
    out_.resize(used + expected);
    point_at(used);
  }
  TextWriter(const TextWriter&) = delete;
  TextWriter& operator=(const TextWriter&) = delete;
  // Leaves `out` holding exactly what was written. Room is asked for the worst case (a JSON
  // string may escape to six times its size), so a text built from a long request value
  // would otherwise keep several times its length for as long as it lives; a tail that
  // large is handed back. Ordinary texts keep their few spare bytes and are not copied.
  ~TextWriter() {
    out_.resize(size());
    if (out_.capacity() - out_.size() > std::max(kKeptSpare, out_.size() / 4)) out_.shrink_to_fit();
  }

  // Bytes in `out` so far, counting what it held before.
  size_t size() const { return static_cast<size_t>(at_ - out_.data()); }

  // Makes sure the next `n` bytes can be written.
  void room(size_t n) {
    if (static_cast<size_t>(end_ - at_) < n) grow(n);
  }

  // Each write needs room first: the text's size, one byte, kNumberRoom for a number, and
  // json_string_room(text) for a JSON string.
  void raw(std::string_view text) {
    std::memcpy(at_, text.data(), text.size());
    at_ += text.size();
  }
  void put(char c) { *at_++ = c; }
  template <class Integer>
  void number(Integer value) {
    at_ = std::to_chars(at_, at_ + kNumberRoom, value).ptr;
  }
  void json_string(std::string_view text) { at_ = write_json_string(at_, text); }

  // room() and raw() in one.
  void text(std::string_view text) {
    room(text.size());
    raw(text);
  }

 private:
  void grow(size_t n) {
    const size_t used = size();
    out_.resize(std::max(2 * out_.size(), used + n));
    point_at(used);
  }
  void point_at(size_t used) {
    at_ = out_.data() + used;
    end_ = out_.data() + out_.size();
  }

  std::string& out_;
  char* at_ = nullptr;
  char* end_ = nullptr;
};

}  // namespace orvane
