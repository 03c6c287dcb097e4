#pragma once
// The SAX handler behind read_experiment_config: turns nlohmann's parse events straight into
// the records of experiment.h, keeping an explicit stack of the containers being read. It
// stops at the first problem and keeps one message with the rule that places it.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <variant>
#include <vector>

#include "base/json.h"
#include "config/config_reader.h"
#include "config/counting_input.h"
#include "config/experiment.h"
#include "config/read_messages.h"

namespace orvane::config_detail {

// Where a value read next goes: a pointer into the records being built, which also says
// what kind of value is wanted there.
struct SkipValue {};
struct UnitValue {};
using Target =
    std::variant<SkipValue, UnitValue, uint32_t*, uint64_t*, float*, double*, bool*, std::string*,
                 std::optional<std::string>*, ContextField*, std::optional<ContextField>*, Json*,
                 std::optional<Json>*, ExperimentType*, std::optional<ValueType>*, Experiment*,
                 InnerExperiment*, Variant*, std::vector<Variant>*,
                 std::optional<std::vector<OverrideMap>>*, OverrideMap*, TargetingTree*,
                 std::optional<TargetingTree>*, std::vector<TargetingTree>*, EqNode*, NeNode*,
                 CompareNode*, ExperimentConfig*>;

// Where a message is placed once reading stopped.
enum class Place {
  Here,          // the last byte read
  ValueStart,    // the first byte of the value being read
  NextNonBlank,  // the first byte after the value that is not a blank (or the end)
  At,            // an offset already known
};

struct Failure {
  std::variant<std::string, NestingTooDeep> message;
  Place place = Place::Here;
  size_t offset = 0;  // for Place::At
};

enum class RecordKind { Experiment, Inner, Variant, Ne, Compare };
enum class EnumKind { Type, ValueType, Tree };

struct RecordFrame {
  RecordKind kind;
  std::variant<Experiment*, InnerExperiment*, Variant*, NeNode*, CompareNode*> record;
  bool array_form = false;
  size_t count = 0;  // elements read in array form
  uint32_t seen = 0;
  Target next;
};
struct MapFrame {
  std::variant<ExperimentConfig*, OverrideMap*> map;
  std::unordered_map<std::string, size_t> index;  // top level only: key to position
  Target next;
};
struct SeqFrame {
  std::variant<std::vector<Variant>*, std::vector<OverrideMap>*, std::vector<TargetingTree>*> seq;
  size_t count = 0;
};
struct EnumFrame {
  enum class State { WantName, WantValue, Done };
  EnumKind kind;
  std::variant<ExperimentType*, std::optional<ValueType>*, TargetingTree*> dest;
  State state = State::WantName;
  size_t choice = 0;
  Target next;
};
struct JsonFrame {
  Json* container;
  bool object;
  Target next;
};
// The value of EQ, read whole before it is matched against its two record shapes. Members
// keep their order and repeats; nested values are plain JSON values.
struct EqInput {
  bool object = true;
  std::vector<std::pair<std::string, Json>> members;
  std::vector<Json> items;
};
struct EqFrame {
  EqNode* dest;
  EqInput* input;  // the reader's scratch input
  Target next;
};
struct SkipFrame {
  bool object;
  size_t count = 0;
};
using Frame = std::variant<RecordFrame, MapFrame, SeqFrame, EnumFrame, JsonFrame, EqFrame, SkipFrame>;

// What the parser passed last, so that a syntax error can be told apart by what it was
// expecting (a key, a colon, a value, a comma).
enum class LastEvent { None, StartObject, StartArray, Key, ValueEnd };

class ConfigSax {
 public:
  ConfigSax(CountingInput& input, ExperimentConfig& out) : input_(input), out_(out) {}

  bool null();
  bool boolean(bool value);
  bool number_integer(int64_t value);
  bool number_unsigned(uint64_t value);
  bool number_float(double value, const std::string& text);
  bool string(std::string& value);
  bool binary(Json::binary_t& value);
  bool start_object(size_t elements);
  bool key(std::string& name);
  bool end_object();
  bool start_array(size_t elements);
  bool end_array();
  bool parse_error(size_t position, const std::string& last_token,
                   const nlohmann::detail::exception& error);

  const std::optional<Failure>& failure() const { return failure_; }
  // A number was the last thing read, so the byte after it has been read too.
  bool peeked_after_value() const { return peeked_; }
  bool finished() const { return top_done_; }

 private:
  bool fail(std::variant<std::string, NestingTooDeep> message, Place place = Place::Here,
            size_t offset = 0);
  void note_event(LastEvent event, size_t end_offset);
  bool take_target(Target& target);
  bool number(const Scalar& value);
  // A scalar that began at `start`; after a string, `start` is the offset past it instead.
  bool scalar(const Scalar& value, size_t start, bool leading_zero = false, bool after_string = false);
  bool store(const Target& target, const Scalar& value);
  bool open(const Target& target, bool object);
  bool close(bool object);
  void value_done();
  // Tells the input whether the parser is inside a skipped value, after a value ended.
  void note_skipping();
  bool record_key(RecordFrame& frame, const std::string& name);
  bool enum_key(EnumFrame& frame, const std::string& name);
  bool finish_record(RecordFrame& frame);
  bool finish_enum(EnumFrame& frame);
  bool finish_eq(EqFrame& frame);
  Failure syntax_failure(size_t position, const std::string& last_token,
                         const nlohmann::detail::exception& error);
  // Whether the value the parser failed to read was meant for a variant name (a tree, a
  // type or a value type), and whether null would have meant absent there.
  bool pending_variant(bool& optional) const;

  CountingInput& input_;
  ExperimentConfig& out_;
  std::vector<Frame> frames_;
  bool top_taken_ = false;
  bool top_done_ = false;
  bool peeked_ = false;
  bool bare_value_ = false;  // the last event was a number or a word
  size_t value_start_ = 0;
  bool value_start_after_string_ = false;
  LastEvent last_event_ = LastEvent::None;
  size_t event_end_ = 0;
  std::optional<Failure> failure_;
  EqInput eq_input_;
};

}  // namespace orvane::config_detail
