// Turns nlohmann's syntax errors into the messages and positions of a typed reader that
// reads the same bytes: what went wrong depends on what the reader was waiting for (a key,
// a colon, a value, a comma) and on the record being read, not only on the bad byte.

#include <cstdlib>
#include <cstring>
#include <string_view>

#include "config/config_sax.h"

namespace orvane::config_detail {
namespace {

constexpr const char* kEofString = "EOF while parsing a string";
constexpr const char* kControl = "control character (\\u0000-\\u001F) found while parsing a string";

enum class Expect {
  TopValue,
  FirstValue,
  Value,
  ValueAfterComma,
  FirstKey,
  KeyAfterComma,
  Colon,
  CommaOrBrace,
  CommaOrBracket,
  End,
};

enum class TokenKind { End, String, Punct, Bare };

bool is_hex(int c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

int hex_value(int c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return c - 'A' + 10;
}

// The lexer's own complaint inside nlohmann's message, or "" when the parser rejected a
// well-formed token.
std::string lexer_message(const char* what) {
  std::string_view text = what;
  size_t dash = text.find(" - ");
  if (dash == std::string_view::npos) return "";
  text.remove_prefix(dash + 3);
  if (text.substr(0, 10) == "unexpected") return "";
  return std::string(text.substr(0, text.find("; last read: ")));
}

bool contains(const std::string& text, const char* part) { return text.find(part) != std::string::npos; }

// Reads four hex digits of a \u escape; 0 on success with the value in `out`.
const char* read_hex4(CountingInput& in, int& out) {
  out = 0;
  for (int i = 0; i < 4; ++i) {
    int c = in.next();
    if (c == CountingInput::kEnd) return kEofString;
    if (!is_hex(c)) return "invalid escape";
    out = out * 16 + hex_value(c);
  }
  return nullptr;
}

const char* escape_tail(CountingInput& in) {
  int c = in.next();
  if (c == CountingInput::kEnd) return kEofString;
  if (std::strchr("\"\\/bfnrt", c) != nullptr) return nullptr;
  if (c != 'u') return "invalid escape";
  int first = 0;
  if (const char* error = read_hex4(in, first)) return error;
  if (first >= 0xDC00 && first <= 0xDFFF) return "lone leading surrogate in hex escape";
  if (first < 0xD800 || first > 0xDBFF) return nullptr;
  c = in.next();
  if (c == CountingInput::kEnd) return kEofString;
  if (c != '\\') return "unexpected end of hex escape";
  c = in.next();
  if (c == CountingInput::kEnd) return kEofString;
  if (c != 'u') return "unexpected end of hex escape";
  int second = 0;
  if (const char* error = read_hex4(in, second)) return error;
  if (second < 0xDC00 || second > 0xDFFF) return "lone leading surrogate in hex escape";
  return nullptr;
}

// nlohmann stops at the first byte that is not UTF-8; a typed reader collects the whole
// string first and checks its encoding at the closing quote, so any other fault before
// that quote still comes first.
std::string rest_of_bad_string(CountingInput& in) {
  if (in.at_end()) return kEofString;
  int byte = in.last_byte();
  for (;;) {
    if (byte == '"') return "invalid unicode code point";
    if (byte == '\\') {
      if (const char* error = escape_tail(in)) return error;
    } else if (byte < 0x20) {
      return kControl;
    }
    byte = in.next();
    if (byte == CountingInput::kEnd) return kEofString;
  }
}

std::string string_error(const std::string& lexer, CountingInput& in) {
  if (contains(lexer, "ill-formed UTF-8")) return rest_of_bad_string(in);
  if (in.at_end()) return kEofString;
  if (contains(lexer, "control character")) return kControl;
  if (contains(lexer, "must follow U+D800")) return "lone leading surrogate in hex escape";
  if (contains(lexer, "must be followed by U+DC00")) {
    return in.landmarks().escape_just_closed() ? "lone leading surrogate in hex escape" : "unexpected end of hex escape";
  }
  return "invalid escape";
}

// A typed reader gives up on an exponent as soon as it no longer fits 32 bits (when the
// number is not zero and the exponent positive), at that digit; `digit` is its index.
bool exponent_overflow(const std::string& token, size_t& digit) {
  size_t e = token.find_first_of("eE");
  if (e == std::string::npos) return false;
  bool zero = token.find_first_of("123456789") > e;
  size_t i = e + 1;
  bool negative = i < token.size() && token[i] == '-';
  if (i < token.size() && (token[i] == '-' || token[i] == '+')) ++i;
  if (zero || negative) return false;
  long long value = 0;
  for (; i < token.size() && token[i] >= '0' && token[i] <= '9'; ++i) {
    value = value * 10 + (token[i] - '0');
    if (i > e + 1 && value > 2147483647) {
      digit = i;
      return true;
    }
  }
  return false;
}

Scalar scalar_from_token(const std::string& token) {
  Scalar s;
  if (token == "true" || token == "false") {
    s.kind = Scalar::Kind::Bool;
    s.boolean = token == "true";
    return s;
  }
  if (token == "null") return s;
  bool integral = token.find_first_of(".eE") == std::string::npos;
  errno = 0;
  if (integral && token[0] != '-') {
    unsigned long long value = std::strtoull(token.c_str(), nullptr, 10);
    if (errno == 0) {
      s.kind = Scalar::Kind::Unsigned;
      s.unsigned_value = value;
      return s;
    }
  } else if (integral && token != "-0") {
    long long value = std::strtoll(token.c_str(), nullptr, 10);
    if (errno == 0) {
      s.kind = Scalar::Kind::Signed;
      s.signed_value = value;
      return s;
    }
  }
  s.kind = Scalar::Kind::Float;
  s.float_value = std::strtod(token.c_str(), nullptr);
  return s;
}

}  // namespace

bool ConfigSax::parse_error(size_t position, const std::string& last_token,
                            const nlohmann::detail::exception& error) {
  failure_ = syntax_failure(position, last_token, error);
  return false;
}

Failure ConfigSax::syntax_failure(size_t position, const std::string& last_token,
                                  const nlohmann::detail::exception& error) {
  // nlohmann's token text runs from the last string or number it scanned, so the failing
  // token is found from the token starts the input recorded since the last event: an
  // expected separator, then the token that broke the grammar.
  size_t token_end = std::min(position, input_.consumed());
  TokenStart tokens[8];
  size_t count = input_.landmarks().tokens_since(event_end_, tokens, 8);
  // A byte the parser only peeked past the failing token is not part of the story.
  while (count > 0 && tokens[count - 1].offset >= token_end) --count;
  unsigned char wanted = last_event_ == LastEvent::Key ? ':' : last_event_ == LastEvent::ValueEnd ? ',' : 0;
  bool glued = bare_value_ && input_.landmarks().bare_start() < event_end_ && input_.landmarks().last_bare_byte() >= event_end_;
  bool separated = !glued && count > 0 && wanted != 0 && tokens[0].byte == wanted;
  size_t index = separated ? 1 : 0;
  TokenKind kind = TokenKind::End;
  size_t token_start = input_.consumed();
  unsigned char first = 0;
  if (glued) {
    // A word or number glued to the value before it ("1x", "truex", "0-1").
    token_start = event_end_;
    first = '?';
    kind = TokenKind::Bare;
  } else if (index < count) {
    token_start = tokens[index].offset;
    first = tokens[index].byte;
    kind = first == '"' ? TokenKind::String
           : std::strchr("{}[],:", first) != nullptr && first != 0 ? TokenKind::Punct
                                                                     : TokenKind::Bare;
  }
  std::string token_text;
  if (token_end > token_start && token_end - token_start <= last_token.size()) {
    token_text = last_token.substr(last_token.size() - (token_end - token_start));
  }
  std::string lexer = lexer_message(error.what());
  bool overflow = error.id == 406;

  auto here = [](std::string message) { return Failure{std::move(message), Place::Here, 0}; };
  auto at_token = [&](std::string message) {
    if (kind == TokenKind::End) return here(std::move(message));
    return Failure{std::move(message), Place::At, token_start};
  };
  // A malformed number or word where a value was wanted.
  auto bare_error = [&]() {
    if (overflow) {
      size_t digit = 0;
      if (exponent_overflow(token_text, digit)) {
        return Failure{"number out of range", Place::At, token_start + digit};
      }
      return here("number out of range");
    }
    if (contains(lexer, "invalid number")) {
      return here(input_.at_end() ? "EOF while parsing a value" : "invalid number");
    }
    if (!lexer.empty() && (first == 't' || first == 'f' || first == 'n')) {
      return here(input_.at_end() ? "EOF while parsing a value" : "expected ident");
    }
    return at_token("expected value");
  };

  // What the parser was waiting for when it stopped.
  Expect expect = Expect::End;
  const Frame* top = frames_.empty() ? nullptr : &frames_.back();
  if (top == nullptr) {
    expect = top_taken_ ? Expect::End : Expect::TopValue;
  } else {
    bool object = std::visit(
        [](const auto& f) -> bool {
          using F = std::decay_t<decltype(f)>;
          if constexpr (std::is_same_v<F, RecordFrame>) return !f.array_form;
          if constexpr (std::is_same_v<F, MapFrame> || std::is_same_v<F, EnumFrame>) return true;
          if constexpr (std::is_same_v<F, SeqFrame>) return false;
          if constexpr (std::is_same_v<F, EqFrame>) return f.input->object;
          if constexpr (std::is_same_v<F, JsonFrame> || std::is_same_v<F, SkipFrame>) return f.object;
          return true;
        },
        *top);
    switch (last_event_) {
      case LastEvent::StartObject: expect = Expect::FirstKey; break;
      case LastEvent::StartArray: expect = Expect::FirstValue; break;
      case LastEvent::Key: expect = separated ? Expect::Value : Expect::Colon; break;
      case LastEvent::None:
      case LastEvent::ValueEnd:
        if (object) {
          expect = separated ? Expect::KeyAfterComma : Expect::CommaOrBrace;
        } else {
          expect = separated ? Expect::ValueAfterComma : Expect::CommaOrBracket;
        }
        break;
    }
  }

  const RecordFrame* record = top ? std::get_if<RecordFrame>(top) : nullptr;
  const EnumFrame* variant = top ? std::get_if<EnumFrame>(top) : nullptr;
  bool skipping = top != nullptr && std::holds_alternative<SkipFrame>(*top);
  bool record_full = false;
  if (record != nullptr && record->array_form) {
    size_t fields = record->kind == RecordKind::Experiment ? 14
                    : record->kind == RecordKind::Inner    ? 6
                    : record->kind == RecordKind::Variant  ? 3
                                                           : 2;
    record_full = record->count >= fields;
  }

  switch (expect) {
    case Expect::TopValue:
    case Expect::FirstValue:
    case Expect::Value:
    case Expect::ValueAfterComma: {
      // A record written as an array stops reading at its last field; whatever follows
      // the next comma is surplus.
      if (record_full) {
        return at_token(kind == TokenKind::Punct && first == ']' ? "trailing comma" : "trailing characters");
      }
      if (kind == TokenKind::End) {
        return here(expect == Expect::FirstValue ? "EOF while parsing a list" : "EOF while parsing a value");
      }
      if (kind == TokenKind::Punct) {
        if (first == ']' && expect == Expect::ValueAfterComma && !skipping) return at_token("trailing comma");
        return at_token("expected value");
      }
      if (kind == TokenKind::String) return here(string_error(lexer, input_));
      bool optional = false;
      if (pending_variant(optional) && !(optional && first == 'n')) return at_token("expected value");
      return bare_error();
    }
    case Expect::FirstKey:
    case Expect::KeyAfterComma: {
      if (variant != nullptr) {
        if (expect == Expect::KeyAfterComma) return Failure{"expected value", Place::At, input_.landmarks().last_comma()};
        if (kind == TokenKind::End) return here("EOF while parsing a value");
        if (kind == TokenKind::String) return here(string_error(lexer, input_));
        if (kind == TokenKind::Punct) {
          if (first == '[') return here(invalid_type("sequence", "variant identifier"));
          if (first == '{') return here(invalid_type("map", "variant identifier"));
          return at_token("expected value");
        }
        if (!lexer.empty() || overflow || first == 0) return bare_error();
        return here(invalid_type(unexpected_text(scalar_from_token(token_text)), "variant identifier"));
      }
      if (kind == TokenKind::End) {
        return here(expect == Expect::FirstKey || skipping ? "EOF while parsing an object"
                                                           : "EOF while parsing a value");
      }
      if (kind == TokenKind::String) return here(string_error(lexer, input_));
      if (kind == TokenKind::Punct && first == '}' && expect == Expect::KeyAfterComma && !skipping) {
        return at_token("trailing comma");
      }
      return at_token("key must be a string");
    }
    case Expect::Colon:
      if (kind == TokenKind::End) return here("EOF while parsing an object");
      return at_token("expected `:`");
    case Expect::CommaOrBrace:
      if (kind == TokenKind::End) return here("EOF while parsing an object");
      if (variant != nullptr) return at_token("expected value");
      return at_token("expected `,` or `}`");
    case Expect::CommaOrBracket:
      if (kind == TokenKind::End) return here("EOF while parsing a list");
      if (record_full) return at_token("trailing characters");
      return at_token("expected `,` or `]`");
    case Expect::End:
      return at_token("trailing characters");
  }
  return here("expected value");
}

}  // namespace orvane::config_detail
