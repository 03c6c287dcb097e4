// Targeting evaluation: a three-valued walk over the tree. Context values are read through
// borrowed views and configured values by reference, so evaluating a tree allocates nothing.

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string_view>
#include <system_error>
#include <variant>

#include "context/fixed_fields.h"
#include "engine/internal.h"

namespace orvane {
namespace {

// One side of an equality test, borrowed from either a configured JSON value or a context
// field. Only the kinds the equality table tells apart are kept; arrays, objects (and
// nlohmann's binary and discarded states) are all `Composite`, which never compares.
struct Operand {
  enum class Kind { Null, Bool, Number, String, Composite };
  Kind kind = Kind::Composite;
  bool boolean = false;
  double number = 0.0;
  std::string_view text;
};

Operand operand_of(const Json& value) {
  Operand op;
  switch (value.type()) {
    case Json::value_t::null:
      op.kind = Operand::Kind::Null;
      break;
    case Json::value_t::boolean:
      op.kind = Operand::Kind::Bool;
      op.boolean = *value.get_ptr<const Json::boolean_t*>();
      break;
    // Integers go to the nearest double, so two integers beyond 2^53 may compare equal
    // once rounded; that is the documented behaviour, not an accident.
    case Json::value_t::number_integer:
      op.kind = Operand::Kind::Number;
      op.number = static_cast<double>(*value.get_ptr<const Json::number_integer_t*>());
      break;
    case Json::value_t::number_unsigned:
      op.kind = Operand::Kind::Number;
      op.number = static_cast<double>(*value.get_ptr<const Json::number_unsigned_t*>());
      break;
    case Json::value_t::number_float:
      op.kind = Operand::Kind::Number;
      op.number = *value.get_ptr<const Json::number_float_t*>();
      break;
    case Json::value_t::string:
      op.kind = Operand::Kind::String;
      op.text = *value.get_ptr<const Json::string_t*>();
      break;
    case Json::value_t::array:
    case Json::value_t::object:
    case Json::value_t::binary:
    case Json::value_t::discarded:
      op.kind = Operand::Kind::Composite;
      break;
  }
  return op;
}

// An absent field has no operand; every leaf turns that into no result.
std::optional<Operand> operand_of(const FieldView& view) {
  struct Visit {
    std::optional<Operand> operator()(std::monostate) const { return std::nullopt; }
    std::optional<Operand> operator()(std::string_view s) const {
      Operand op;
      op.kind = Operand::Kind::String;
      op.text = s;
      return op;
    }
    std::optional<Operand> operator()(bool b) const {
      Operand op;
      op.kind = Operand::Kind::Bool;
      op.boolean = b;
      return op;
    }
    std::optional<Operand> operator()(int64_t i) const {
      Operand op;
      op.kind = Operand::Kind::Number;
      op.number = static_cast<double>(i);
      return op;
    }
    std::optional<Operand> operator()(const Json* j) const { return operand_of(*j); }
  };
  return std::visit(Visit{}, view);
}

// The equality table, `a` first. Asymmetric on purpose: a configured null answers false for
// any present value, while a null met as the second value leaves a number or string
// without an answer.
std::optional<bool> operand_eq(const Operand& a, const Operand& b) {
  using Kind = Operand::Kind;
  switch (a.kind) {
    case Kind::Null:
      return b.kind == Kind::Null;
    case Kind::Bool:
      if (b.kind != Kind::Bool) return std::nullopt;
      return a.boolean == b.boolean;
    case Kind::Number:
      if (b.kind == Kind::Number) return approx_eq(a.number, b.number);
      if (b.kind == Kind::String) {
        // A text that is not a number simply differs from the number; it is not undecidable.
        std::optional<double> parsed = parse_decimal(b.text);
        return parsed && approx_eq(a.number, *parsed);
      }
      return std::nullopt;
    case Kind::String:
      if (b.kind == Kind::String) return a.text == b.text;
      if (b.kind == Kind::Number) {
        std::optional<double> parsed = parse_decimal(a.text);
        return parsed && approx_eq(*parsed, b.number);
      }
      return std::nullopt;
    case Kind::Composite:
      return std::nullopt;
  }
  return std::nullopt;
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

bool equals_ignoring_case(std::string_view text, std::string_view lower_word) {
  if (text.size() != lower_word.size()) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != lower_word[i]) return false;
  }
  return true;
}

// Where the decimal number's first significant digit sits, as a power of ten; it tells an
// overflow from an underflow when the conversion reports a result out of range. The
// exponent saturates far beyond any double's range so that absurd exponents cannot wrap.
int64_t decimal_magnitude(std::string_view digits_and_point, int64_t exponent) {
  int64_t integer_digits = 0;
  bool seen_point = false;
  int64_t position = 0;  // digits seen so far
  int64_t first_significant = -1;
  for (char c : digits_and_point) {
    if (c == '.') {
      seen_point = true;
      continue;
    }
    if (!seen_point) ++integer_digits;
    if (first_significant < 0 && c != '0') first_significant = position;
    ++position;
  }
  if (first_significant < 0) return 0;  // zero never leaves the range
  return integer_digits - 1 - first_significant + exponent;
}

}  // namespace

std::optional<double> parse_decimal(std::string_view text) {
  bool negative = false;
  std::string_view body = text;
  if (!body.empty() && (body.front() == '+' || body.front() == '-')) {
    negative = body.front() == '-';
    body.remove_prefix(1);
  }
  constexpr double kInf = std::numeric_limits<double>::infinity();
  if (equals_ignoring_case(body, "inf") || equals_ignoring_case(body, "infinity")) {
    return negative ? -kInf : kInf;
  }
  if (equals_ignoring_case(body, "nan")) {
    return negative ? -std::numeric_limits<double>::quiet_NaN()
                    : std::numeric_limits<double>::quiet_NaN();
  }

  // from_chars is more lenient than the accepted grammar (it takes "nan(...)" and stops
  // quietly at a bare "e"), so the text is checked here first and converted afterwards.
  size_t i = 0;
  size_t digits = 0;
  while (i < body.size() && is_digit(body[i])) ++i, ++digits;
  if (i < body.size() && body[i] == '.') {
    ++i;
    while (i < body.size() && is_digit(body[i])) ++i, ++digits;
  }
  if (digits == 0) return std::nullopt;
  const size_t mantissa_end = i;
  int64_t exponent = 0;
  if (i < body.size() && (body[i] == 'e' || body[i] == 'E')) {
    ++i;
    bool exponent_negative = false;
    if (i < body.size() && (body[i] == '+' || body[i] == '-')) {
      exponent_negative = body[i] == '-';
      ++i;
    }
    const size_t exponent_start = i;
    while (i < body.size() && is_digit(body[i])) {
      exponent = std::min<int64_t>(exponent * 10 + (body[i] - '0'), 1'000'000'000);
      ++i;
    }
    if (i == exponent_start) return std::nullopt;
    if (exponent_negative) exponent = -exponent;
  }
  if (i != body.size()) return std::nullopt;

  double value = 0.0;
  auto [end, ec] = std::from_chars(body.data(), body.data() + body.size(), value,
                                   std::chars_format::general);
  if (end != body.data() + body.size()) return std::nullopt;
  if (ec == std::errc::result_out_of_range) {
    // The conversion leaves the value untouched here; round as the nearest-double rule
    // does: too large becomes infinity, too small becomes zero.
    value = decimal_magnitude(body.substr(0, mantissa_end), exponent) > 0 ? kInf : 0.0;
  } else if (ec != std::errc()) {
    return std::nullopt;
  }
  return negative ? -value : value;
}

bool approx_eq(double x, double y) {
  if (x == y) return true;
  if (std::fabs(x - y) <= std::numeric_limits<double>::epsilon()) return true;
  // Distance in units in the last place: adjacent doubles of one sign have adjacent bit
  // patterns. The subtraction wraps, and the most negative distance saturates, so numbers
  // of opposite sign always come out far apart.
  const uint64_t xi = std::bit_cast<uint64_t>(x);
  const uint64_t yi = std::bit_cast<uint64_t>(y);
  const auto distance = static_cast<int64_t>(xi - yi);
  const int64_t magnitude = distance == std::numeric_limits<int64_t>::min()
                                ? std::numeric_limits<int64_t>::max()
                                : (distance < 0 ? -distance : distance);
  return magnitude <= 4;
}

bool cmp_floats(Comp op, double x, double threshold) {
  // Only the inclusive comparisons tolerate rounding; strict ones compare the doubles as
  // they are, so 0.1 + 0.2 is both >= 0.3 and > 0.3.
  switch (op) {
    case Comp::Gt: return x > threshold;
    case Comp::Lt: return x < threshold;
    case Comp::Ge: return x > threshold || approx_eq(x, threshold);
    case Comp::Le: return x < threshold || approx_eq(x, threshold);
  }
  return false;
}

std::optional<bool> cmp_op(const Context& ctx, Comp op, const ContextField& field,
                           double threshold) {
  return cmp_value(op, view_field(field, ctx), threshold);
}

std::optional<bool> cmp_value(Comp op, const FieldView& view, double threshold) {
  std::optional<Operand> value = operand_of(view);
  if (!value) return std::nullopt;
  switch (value->kind) {
    case Operand::Kind::Number:
      return cmp_floats(op, value->number, threshold);
    case Operand::Kind::String: {
      // Unlike equality, an ordering against a non-numeric text has no answer at all.
      std::optional<double> parsed = parse_decimal(value->text);
      if (!parsed) return std::nullopt;
      return cmp_floats(op, *parsed, threshold);
    }
    case Operand::Kind::Null:
    case Operand::Kind::Bool:
    case Operand::Kind::Composite:
      return std::nullopt;
  }
  return std::nullopt;
}

std::optional<bool> value_eq(const Json& a, const Json& b) {
  return operand_eq(operand_of(a), operand_of(b));
}

namespace {

template <class Trace>
struct Eval {
  const Context& ctx;
  Trace trace;

  // The context value a leaf compares, shown to the trace as it is read.
  FieldView read(const ContextField& field) const {
    FieldView view = field.is_other() ? view_field(field, ctx) : view_fixed_field(field.kind(), ctx);
    trace.leaf_read(view);
    return view;
  }

  // A child without an answer counts as false, so ALL and ANY always answer.
  std::optional<bool> operator()(const AllNode& node) const {
    for (const TargetingTree& child : node.children) {
      if (eval(child, ctx, trace) != true) return false;
    }
    return true;
  }
  std::optional<bool> operator()(const AnyNode& node) const {
    for (const TargetingTree& child : node.children) {
      if (eval(child, ctx, trace) == true) return true;
    }
    return false;
  }
  std::optional<bool> operator()(const NotNode& node) const {
    std::optional<bool> inner = eval(*node.child, ctx, trace);
    if (!inner) return std::nullopt;
    return !*inner;
  }
  std::optional<bool> operator()(const EqNode& node) const { return std::visit(*this, node.eq); }
  std::optional<bool> operator()(const EqOne& eq) const { return equal(eq.value, read(eq.field)); }
  // Here the context value comes first, and an undecidable pair poisons the whole list
  // even after a match, so every value is compared. Two texts always compare, so once a
  // text has matched, later texts need no comparison; other values still do.
  std::optional<bool> operator()(const EqMany& eq) const {
    std::optional<Operand> actual = operand_of(read(eq.field));
    if (!actual) return std::nullopt;
    const bool actual_text = actual->kind == Operand::Kind::String;
    bool matched = false;
    for (const Json& expected : eq.values) {
      if (actual_text) {
        if (const auto* text = expected.get_ptr<const Json::string_t*>()) {
          matched = matched || actual->text == *text;
          continue;
        }
      }
      std::optional<bool> same = operand_eq(*actual, operand_of(expected));
      if (!same) return std::nullopt;
      matched = matched || *same;
    }
    return matched;
  }
  std::optional<bool> operator()(const NeNode& node) const {
    std::optional<bool> same = equal(node.value, read(node.field));
    if (!same) return std::nullopt;
    return !*same;
  }

  // The equality table with the configured value first. A context text against a
  // configured text, the common leaf, is a plain comparison of the two.
  static std::optional<bool> equal(const Json& configured, const FieldView& value) {
    if (const auto* text = std::get_if<std::string_view>(&value)) {
      if (const auto* expected = configured.get_ptr<const Json::string_t*>()) {
        return *expected == *text;
      }
    }
    std::optional<Operand> actual = operand_of(value);
    if (!actual) return std::nullopt;
    return operand_eq(operand_of(configured), *actual);
  }
  std::optional<bool> operator()(const CompareNode& node) const {
    return cmp_value(node.op, read(node.field), node.value);
  }
};

}  // namespace

template <class Trace>
std::optional<bool> eval(const TargetingTree& tree, const Context& ctx, Trace trace) {
  std::optional<bool> result = std::visit(Eval<Trace>{ctx, trace}, tree.node);
  trace.node_result(tree, result);
  return result;
}

template std::optional<bool> eval(const TargetingTree&, const Context&, NoTrace);
template std::optional<bool> eval(const TargetingTree&, const Context&, Traced);

}  // namespace orvane
