#include "config/config_reader.h"

#include <exception>
#include <string>

#include "config/config_sax.h"
#include "config/counting_input.h"

namespace orvane {
namespace {

using config_detail::ConfigSax;
using config_detail::CountingInput;
using config_detail::ParserInput;
using config_detail::Failure;
using config_detail::Place;
using config_detail::TextPosition;
using config_detail::is_blank;

JsonError at(std::variant<std::string, NestingTooDeep> message, TextPosition position) {
  return JsonError{std::move(message), position.line, position.column};
}

// Messages that come from a whole record are placed where the reader stands after looking
// past the record's last token for what follows it.
TextPosition next_non_blank(CountingInput& input, bool peeked) {
  if (peeked && !is_blank(input.last_byte())) return input.current();
  for (;;) {
    int byte = input.next();
    if (byte == CountingInput::kEnd || !is_blank(static_cast<unsigned char>(byte))) {
      return input.current();
    }
  }
}

Result<ExperimentConfig, JsonError> read_from(CountingInput& input) {
  ExperimentConfig config;
  ConfigSax sax(input, config);
  bool ok = false;
  try {
    // The parser itself rather than Json::sax_parse, which only takes nlohmann's own inputs.
    ok = nlohmann::detail::parser<Json, ParserInput>(ParserInput(input)).sax_parse(&sax, true);
  } catch (const std::exception& e) {
    return Unexpected{JsonError{e.what(), 0, 0}};
  } catch (...) {
    return Unexpected{JsonError{"unknown failure while reading the configuration", 0, 0}};
  }
  if (!input.read_error().empty()) return Unexpected{JsonError{input.read_error(), 0, 0}};
  // nlohmann skips a byte order mark; to a strict reader it is a byte that starts no value.
  if (input.first_byte_was(0xEF)) return Unexpected{JsonError{"expected value", 1, 1}};
  if (ok) {
    // nlohmann also takes a NUL byte for the end of the input; anything there is surplus.
    if (!input.at_end()) return Unexpected{at("trailing characters", input.current())};
    return config;
  }
  if (!sax.failure()) return Unexpected{at("expected value", input.current())};
  const Failure& failure = *sax.failure();
  switch (failure.place) {
    case Place::Here: return Unexpected{at(failure.message, input.current())};
    case Place::ValueStart:
    case Place::At: return Unexpected{at(failure.message, input.position_of(failure.offset))};
    case Place::NextNonBlank:
      return Unexpected{at(failure.message, next_non_blank(input, sax.peeked_after_value()))};
  }
  return Unexpected{at(failure.message, input.current())};
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
  CountingInput input(fd);
  return read_from(input);
}

Result<ExperimentConfig, JsonError> read_experiment_config(std::string_view text) {
  CountingInput input(text);
  return read_from(input);
}

}  // namespace orvane
