#pragma once
// The bytes of a configuration, held whole: a file read in full first (at most
// kMaxConfigBytes), or a text already in memory. A failure to read is kept, not thrown.

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace orvane::config_detail {

// The largest configuration read: far above any real one, low enough that a wrong path
// (a device, an endless pipe, a huge file) cannot take all the memory there is.
inline constexpr size_t kMaxConfigBytes = size_t{1} << 30;

class ConfigText {
 public:
  // Reads everything `fd` holds, up to kMaxConfigBytes.
  explicit ConfigText(int fd);
  // Borrows a text in memory, under the same size limit as a file.
  explicit ConfigText(std::string_view text);
  ConfigText(const ConfigText&) = delete;
  ConfigText& operator=(const ConfigText&) = delete;

  std::string_view bytes() const { return {data_, size_}; }
  // Whether the bytes are a file's, in whole pages of their own that the reader may give
  // back to the system once it has read past them.
  bool releasable() const { return owned_ != nullptr; }
  // Why reading stopped early (an OS error, no memory, over the size limit); empty when
  // the text is whole.
  const std::string& read_error() const { return read_error_; }

  // Unmaps the pages of a file's bytes.
  struct Unmap {
    size_t size;
    void operator()(char* pages) const;
  };

 private:
  void read_all(int fd);

  std::unique_ptr<char, Unmap> owned_;  // a file's bytes, mapped pages; empty when borrowed
  const char* data_ = nullptr;
  size_t size_ = 0;
  std::string read_error_;
};

}  // namespace orvane::config_detail
