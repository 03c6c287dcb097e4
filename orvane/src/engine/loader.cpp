#include "engine/loader.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "base/quote.h"
#include "config/config_reader.h"

namespace orvane {
namespace {

// Closes the descriptor however reading ends.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// Splits at runs of Unicode white space, not only ASCII blanks: stage lists are often
// pasted from documents that hold non-breaking or ideographic spaces.
std::vector<std::string_view> split_names(std::string_view text) {
  std::vector<std::string_view> names;
  size_t pos = 0;
  size_t start = std::string_view::npos;
  while (pos < text.size()) {
    size_t here = pos;
    char32_t c = decode_utf8(text, pos);
    if (is_unicode_whitespace(c)) {
      if (start != std::string_view::npos) names.push_back(text.substr(start, here - start));
      start = std::string_view::npos;
    } else if (start == std::string_view::npos) {
      start = here;
    }
  }
  if (start != std::string_view::npos) names.push_back(text.substr(start));
  return names;
}

}  // namespace

Result<Orvane, OrvaneInitError> init(std::string_view decisionmakers, FeatureList features) {
  std::vector<Stage> chain;
  for (std::string_view name : split_names(decisionmakers)) {
    Result<Stage, InvalidDecisionMaker> stage = name_to_decisionmaker(name);
    if (!stage) return OrvaneInitError{std::move(stage).error()};
    chain.push_back(*stage);
  }
  return Orvane(std::move(features), std::move(chain));
}

namespace {

// Compiles what was read, then resolves the stage names.
Result<Orvane, OrvaneInitError> build(std::string_view decisionmakers,
                                      Result<ExperimentConfig, JsonError> config) {
  if (!config) return OrvaneInitError{std::move(config).error()};

  Result<FeatureList, OrvaneInitError> features =
      experiment_config_to_features(std::move(config).value());
  if (!features) return std::move(features).error();

  return init(decisionmakers, std::move(features).value());
}

}  // namespace

Result<Orvane, OrvaneInitError> init_orvane(std::string_view decisionmakers,
                                            std::string_view path) {
  // A path cannot carry a NUL byte to the OS; report it as the open failure it is rather
  // than opening a truncated name.
  if (path.find('\0') != std::string_view::npos) {
    return OrvaneInitError{IoError{"file name contained an unexpected NUL byte"}};
  }
  std::string path_text(path);
  // A signal arriving while open blocks (on a FIFO, say) is no reason to fail the load.
  int fd = -1;
  do {
    fd = ::open(path_text.c_str(), O_RDONLY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  FileDescriptor file(fd);
  if (file.get() < 0) return OrvaneInitError{io_error_from_errno(errno)};

  return build(decisionmakers, read_experiment_config_fd(file.get()));
}

Result<Orvane, OrvaneInitError> init_orvane_text(std::string_view decisionmakers,
                                                 std::string_view text) {
  return build(decisionmakers, read_experiment_config(text));
}

}  // namespace orvane
