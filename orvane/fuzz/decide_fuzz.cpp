// Fuzzed contexts, feature names and identifier types against a fixed rich configuration,
// through every operation of the engine.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "engine/loader.h"
#include "engine/orvane.h"

namespace {

using namespace orvane;

const Orvane& engine() {
  static const Orvane* loaded = [] {
    auto result = init_orvane(
        "darkmode locale targeting overrides holdout mutex_group fractional_availability value",
        ORVANE_FUZZ_CONFIG);
    if (!result) std::abort();
    return new Orvane(std::move(result).value());
  }();
  return *loaded;
}

// Splits the input into fields at 0xFF bytes; each piece feeds one slot.
class Pieces {
 public:
  Pieces(const uint8_t* data, size_t size)
      : text_(reinterpret_cast<const char*>(data), size) {}
  std::string_view next() {
    size_t end = text_.find('\xff', pos_);
    if (end == std::string_view::npos) end = text_.size();
    std::string_view piece = text_.substr(std::min(pos_, text_.size()), end - std::min(pos_, end));
    pos_ = end + 1;
    return piece;
  }
  bool more() const { return pos_ < text_.size(); }

 private:
  std::string_view text_;
  size_t pos_ = 0;
};

int64_t to_int(std::string_view s) {
  int64_t v = 0;
  for (char c : s) v = static_cast<int64_t>(static_cast<uint64_t>(v) * 131 + static_cast<uint8_t>(c));
  return v;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Pieces in(data, size);
  std::string name(in.next());
  Context ctx;
  auto maybe = [&](std::optional<std::string>& slot) {
    std::string_view piece = in.next();
    if (!piece.empty() && piece[0] != '\xfe') slot = std::string(piece);
  };
  maybe(ctx.user_id);
  maybe(ctx.device_id);
  maybe(ctx.country_code);
  maybe(ctx.app_name);
  maybe(ctx.locale);
  maybe(ctx.canonical_url);
  std::string_view flags = in.next();
  if (flags.size() > 0 && (flags[0] & 1)) ctx.logged_in = (flags[0] & 2) != 0;
  if (flags.size() > 0 && (flags[0] & 4)) ctx.user_is_employee = (flags[0] & 8) != 0;
  if (flags.size() > 1) ctx.build_number = static_cast<int32_t>(to_int(in.next()));
  if (flags.size() > 2) ctx.cookie_created_timestamp = to_int(in.next());
  if (flags.size() > 3) {
    JsonObject others;
    while (in.more()) {
      std::string key(in.next());
      std::string_view value = in.next();
      switch (value.empty() ? 0 : value[0] % 5) {
        case 0: others[key] = std::string(value); break;
        case 1: others[key] = to_int(value); break;
        case 2: others[key] = static_cast<double>(to_int(value)) / 7.0; break;
        case 3: others[key] = (value.size() % 2) == 0; break;
        default: others[key] = nullptr;
      }
    }
    ctx.other_fields = std::move(others);
  }
  std::optional<ContextField> identifier;
  if (flags.size() > 4) identifier = ContextField::from_name(in.next());

  const Orvane& e = engine();
  DecideResult chosen = choose(e, name, ctx, identifier);
  if (chosen && *chosen) (void)decision_debug(**chosen);
  if (!chosen) (void)chosen.error().display();
  (void)choose_all(e, ctx, identifier);
  (void)get_bool(e, name, ctx);
  (void)get_int(e, name, ctx);
  (void)get_float(e, name, ctx);
  (void)get_string(e, name, ctx);
  (void)get_map(e, name, ctx);
  (void)get_all_values(e, ctx);
  (void)context_debug(ctx);
  return 0;
}
