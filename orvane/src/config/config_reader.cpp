#include "config/config_reader.h"

#include <string>

#include "config/config_text.h"
#include "config/record_reader.h"

namespace orvane {
namespace {

Result<ExperimentConfig, JsonError> read_whole(const config_detail::ConfigText& text) {
  if (!text.read_error().empty()) return Unexpected{JsonError{text.read_error(), 0, 0}};
  return config_detail::read_config_text(text.bytes(), text.releasable());
}

}  // namespace

std::string JsonError::message() const {
  struct Text {
    std::string operator()(const std::string& text) const { return text; }
    std::string operator()(NestingTooDeep) const { return "recursion limit exceeded"; }
  };
  return std::visit(Text{}, reason);
}

std::string JsonError::display() const {
  if (line == 0) return message();
  return message() + " at line " + std::to_string(line) + " column " + std::to_string(column);
}

Result<ExperimentConfig, JsonError> read_experiment_config_fd(int fd) {
  return read_whole(config_detail::ConfigText(fd));
}

Result<ExperimentConfig, JsonError> read_experiment_config(std::string_view text) {
  return read_whole(config_detail::ConfigText(text));
}

}  // namespace orvane
