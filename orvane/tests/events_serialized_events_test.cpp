#include "events/serialized_events.h"

#include <gtest/gtest.h>
#include <sys/time.h>

#include <array>
#include <cstdint>
#include <fstream>
#include <memory>
#include <thread>
#include <string>
#include <string_view>
#include <vector>

#include "events/clock.h"
#include "events/experiment_event.h"
#include "events/uuid.h"

namespace orvane {
namespace {

using OrderedJson = nlohmann::ordered_json;
constexpr uint64_t kI64Max = 9223372036854775807u;

// The event borrows its texts, as the engine's do from the feature and the request.
ExperimentEvent event(EventKind kind, std::string_view field, std::string_view identifier,
                      std::string_view variant = "blue") {
  return ExperimentEvent{.feature_name = "button_color",
                         .variant_name = variant,
                         .bucket_field = field,
                         .identifier = identifier,
                         .start_ts = 1600000000,
                         .stop_ts = 1900000000,
                         .owner = "growth",
                         .feature_id = 7,
                         .feature_version = 3,
                         .kind = kind};
}

Context full_context() {
  Context ctx;
  ctx.user_id = "u1";
  ctx.locale = "en-US";
  ctx.country_code = "DE";
  ctx.device_id = "{6BA7B810-9DAD-11D1-80B4-00C04FD430C8}";
  ctx.canonical_url = "https://example.com/a";
  ctx.origin_service = "not written";
  ctx.user_is_employee = true;
  ctx.logged_in = false;
  ctx.app_name = "web";
  ctx.build_number = 12;
  ctx.cookie_created_timestamp = 1700000000000;
  ctx.loid_created_timestamp = 5;
  ctx.other_fields = JsonObject{{"plan", "pro"}};
  return ctx;
}

EventStamp stamp(size_t events) {
  EventStamp s{1700000000123, *parse_uuid("00000000-0000-4000-8000-000000000008"), {}};
  for (size_t i = 1; i <= events; ++i) {
    s.event_uuids.push_back(*parse_uuid("00000000-0000-4000-8000-00000000000" + std::to_string(i)));
  }
  return s;
}

// Keys of an object in the order written, "1,2,3".
std::string keys(const OrderedJson& object) {
  std::string out;
  for (const auto& [key, value] : object.items()) out += (out.empty() ? "" : ",") + key;
  return out;
}

// Canonical lower-case hyphenated text of a version-4, RFC 4122 variant UUID.
bool parse_uuid_like_v4(const std::string& text) {
  std::optional<Uuid> uuid = parse_uuid(text);
  return uuid && uuid_text(*uuid) == text && text[14] == '4' &&
         std::string_view("89ab").find(text[19]) != std::string_view::npos;
}

std::vector<std::string> golden_lines() {
  std::ifstream file(ORVANE_TESTDATA_DIR "/events/full_context_two_events.jsonl");
  std::vector<std::string> lines;
  for (std::string line; std::getline(file, line);) lines.push_back(line);
  EXPECT_EQ(lines.size(), 2u);
  lines.resize(2);
  return lines;
}

SerializedEvents serialize_ok(const Context& ctx, std::vector<ExperimentEvent> events) {
  Result<SerializedEvents, EventError> result = serialize_events(ctx, std::move(events));
  EXPECT_TRUE(result) << (result ? "" : result.error().message);
  return result ? std::move(result).value() : SerializedEvents{};
}

TEST(EventKind, Names) {
  EXPECT_EQ(event_kind_name(EventKind::FracAvail), "FracAvail");
  EXPECT_EQ(event_kind_name(EventKind::Override), "Override");
  EXPECT_EQ(event_kind_name(EventKind::Holdout), "Holdout");
  EXPECT_EQ(event_kind_name(EventKind::MutexGroup), "MutexGroup");
}

TEST(CompactText, JoinsTenValues) {
  ExperimentEvent override_event{.feature_name = "f", .variant_name = "v",
                                 .bucket_field = "user_id",
                                 .identifier = "u1", .start_ts = 0, .stop_ts = 100, .owner = "o",
                                 .feature_id = 7, .feature_version = 2,
                                 .kind = EventKind::Override};
  ExperimentEvent wide = event(EventKind::MutexGroup, "plan", "a::b \"q\"");
  wide.start_ts = UINT64_MAX;
  wide.feature_id = UINT32_MAX;
  struct Case { const char* name; ExperimentEvent event; const char* text; };
  const Case kCases[] = {
      {"override example", override_event, "1::::7::::f::::2::::v::::u1::::user_id::::0::::100::::o"},
      {"holdout, build number", event(EventKind::Holdout, "build_number", "12"),
       "2::::7::::button_color::::3::::blue::::12::::build_number::::1600000000::::1900000000::::growth"},
      {"other field, raw text, widest numbers", wide,
       "3::::4294967295::::button_color::::3::::blue::::a::b \"q\"::::plan::::"
       "18446744073709551615::::1900000000::::growth"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(compact_text(c.event), c.text);
  }
}

TEST(SerializeEvents, GoldenFullContext) {
  std::vector<ExperimentEvent> events = {event(EventKind::FracAvail, "user_id", "u1"),
                                         event(EventKind::Override, "plan", "pro", "red")};
  Result<SerializedEvents, EventError> result =
      serialize_events_with(full_context(), std::move(events), stamp(2));
  ASSERT_TRUE(result);
  std::string written;
  const std::vector<Event> documents = result->documents();
  for (const Event& e : documents) written += e.json + "\n";
  std::string golden;
  for (const std::string& line : golden_lines()) golden += line + "\n";
  EXPECT_EQ(written, golden);
  ASSERT_EQ(documents.size(), 2u);
  EXPECT_EQ(documents[0].kind, EventKind::FracAvail);
  EXPECT_EQ(documents[1].kind, EventKind::Override);
  EXPECT_EQ(result->texts(),
            (std::vector<std::string>{
                "0::::7::::button_color::::3::::blue::::u1::::user_id::::1600000000::::1900000000::::growth",
                "1::::7::::button_color::::3::::red::::pro::::plan::::1600000000::::1900000000::::growth"}));
}

TEST(SerializeEvents, EveryFieldParsesBack) {
  int64_t before = now_millis();
  SerializedEvents out = serialize_ok(full_context(), {event(EventKind::FracAvail, "user_id", "u1"),
                                                       event(EventKind::Holdout, "user_id", "u1")});
  int64_t after = now_millis();
  const std::vector<Event> documents = out.documents();
  ASSERT_EQ(documents.size(), 2u);
  OrderedJson first = OrderedJson::parse(documents[0].json);
  OrderedJson second = OrderedJson::parse(documents[1].json);

  int64_t stamp_ms = first["5"]["i64"].get<int64_t>();
  EXPECT_LE(before, stamp_ms);
  EXPECT_LE(stamp_ms, after);
  for (const char* key : {"6", "8"}) {
    std::string uuid = first[key]["str"].get<std::string>();
    EXPECT_TRUE(parse_uuid_like_v4(uuid)) << key << ": " << uuid;
  }
  EXPECT_EQ(first["5"], second["5"]);
  EXPECT_EQ(first["8"], second["8"]);
  EXPECT_NE(first["6"], second["6"]);
  EXPECT_NE(first["6"], first["8"]);

  // Apart from the stamp, the first event is the golden one; ordered comparison, so the
  // key order of every record counts too. A Holdout event is no override.
  OrderedJson expected = OrderedJson::parse(golden_lines()[0]);
  for (const char* key : {"5", "6", "8"}) expected[key] = first[key];
  EXPECT_EQ(first, expected);
  expected["6"] = second["6"];
  EXPECT_EQ(second, expected);
  EXPECT_EQ(documents[0].json, first.dump());  // no whitespace anywhere
}

TEST(SerializeEvents, DocumentsAreFixedWhenStamped) {
  // The documents are written when read, from what was fixed at stamping: every read, of
  // the value or of a copy, from threads reading at once, long after the context and the
  // texts the events borrowed are gone, gives the same bytes, and those are the ones the
  // golden context gives.
  auto ctx = std::make_unique<Context>(full_context());
  // Long enough to live on the heap, so that their bytes are really gone once released.
  auto texts = std::make_unique<std::array<std::string, 4>>(std::array<std::string, 4>{
      "button_color" + std::string(40, 'x'), "user_id", "u1", "growth" + std::string(40, 'y')});
  auto borrowed = [&](EventKind kind, std::string_view field, std::string_view identifier,
                      std::string_view variant) {
    ExperimentEvent e = event(kind, field, identifier, variant);
    e.feature_name = std::string_view((*texts)[0]).substr(0, 12);
    e.owner = std::string_view((*texts)[3]).substr(0, 6);
    return e;
  };
  const SerializedEvents out =
      serialize_ok(*ctx, {borrowed(EventKind::FracAvail, (*texts)[1], (*texts)[2], "blue"),
                          borrowed(EventKind::Override, "plan", "pro", "red")});
  ctx.reset();
  for (std::string& text : *texts) text.assign(text.size(), '?');
  texts.reset();
  const std::vector<Event> first = out.documents();
  ASSERT_EQ(first.size(), 2u);
  const std::vector<std::string> golden = golden_lines();
  for (size_t i = 0; i < first.size(); ++i) {
    OrderedJson parsed = OrderedJson::parse(first[i].json);
    OrderedJson expected = OrderedJson::parse(golden[i]);
    for (const char* key : {"5", "6", "8"}) expected[key] = parsed[key];
    EXPECT_EQ(parsed, expected) << i;
  }

  const SerializedEvents copy = out;
  std::vector<std::vector<Event>> seen(8);
  std::vector<std::thread> readers;
  for (size_t t = 0; t < seen.size(); ++t) {
    readers.emplace_back([&, t] { seen[t] = (t % 2 == 0 ? out : copy).documents(); });
  }
  for (std::thread& reader : readers) reader.join();
  for (const std::vector<Event>& documents : seen) {
    ASSERT_EQ(documents.size(), first.size());
    for (size_t i = 0; i < first.size(); ++i) {
      EXPECT_EQ(documents[i].json, first[i].json);
      EXPECT_EQ(documents[i].kind, first[i].kind);
    }
  }
  EXPECT_EQ(copy.texts(), out.texts());
  EXPECT_EQ(out.texts(),
            (std::vector<std::string>{
                "0::::7::::button_color::::3::::blue::::u1::::user_id::::1600000000::::1900000000::::growth",
                "1::::7::::button_color::::3::::red::::pro::::plan::::1600000000::::1900000000::::growth"}));
}

TEST(SerializeEvents, ContextRecordsPresentOnlyWithTheirFields) {
  struct Case { const char* name; Context ctx; const char* keys; const char* record; const char* text; };
  Context app_only, user_only, bad_device, upper_device, bare_device, urn_device, url, geo;
  app_only.app_name = "web";
  user_only.user_id = "u9";
  bad_device.device_id = "abc";
  upper_device.device_id = "6BA7B810-9DAD-11D1-80B4-00C04FD430C8";
  bare_device.device_id = "6ba7b8109dad11d180b400c04fd430c8";
  urn_device.device_id = "urn:uuid:6ba7b810-9dad-11d1-80b4-00c04fd430c8";
  url.canonical_url = "/x";
  geo.country_code = "FR";
  const char* kDevice = R"({"rec":{"2":{"str":"6ba7b810-9dad-11d1-80b4-00c04fd430c8"}}})";
  const Case kCases[] = {
      {"minimal", Context{}, "1,2,3,5,6,8,129", "129", nullptr},
      {"app without build or locale", app_only, "1,2,3,5,6,8,107,129", "107", R"({"rec":{"2":{"str":"web"}}})"},
      {"user without flags", user_only, "1,2,3,5,6,8,112,129", "112", R"({"rec":{"1":{"str":"u9"}}})"},
      {"device not a uuid", bad_device, "1,2,3,5,6,8,129", "129", nullptr},
      {"device upper case", upper_device, "1,2,3,5,6,8,108,129", "108", kDevice},
      {"device 32 digits", bare_device, "1,2,3,5,6,8,108,129", "108", kDevice},
      {"device urn", urn_device, "1,2,3,5,6,8,108,129", "108", kDevice},
      {"request", url, "1,2,3,5,6,8,109,129", "109", R"({"rec":{"17":{"str":"/x"}}})"},
      {"geo", geo, "1,2,3,5,6,8,129,500", "500", R"({"rec":{"1":{"str":"FR"}}})"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    SerializedEvents out = serialize_ok(c.ctx, {event(EventKind::Override, "user_id", "u1")});
    ASSERT_EQ(out.size(), 1u);
    OrderedJson parsed = OrderedJson::parse(out.documents()[0].json);
    EXPECT_EQ(keys(parsed), c.keys);
    EXPECT_EQ(keys(parsed["129"]["rec"]), "1,2,3,4,5,6,7,8,9,10");
    EXPECT_EQ(parsed["129"]["rec"]["10"].dump(), R"({"tf":1})");
    if (c.text != nullptr) {
      EXPECT_EQ(parsed[c.record].dump(), c.text);
    }
  }
}

TEST(SerializeEvents, TextsEscapeAndParseBack) {
  // Past a few kilobytes a text's room is measured exactly rather than assumed the worst.
  std::string long_text, long_escaped = "\"";
  for (int i = 0; i < 400; ++i) {
    long_text += std::string("abcdefgh\"\\\n\x01", 12);
    long_escaped += R"(abcdefgh\"\\\n\u0001)";
  }
  long_escaped += "\"";
  struct Case { const char* name; std::string text; std::string escaped; };
  const Case kCases[] = {
      {"long, every kind of escape", long_text, long_escaped},
      {"quote and backslash", "a\"b\\c", R"("a\"b\\c")"},
      {"named controls", "\b\f\n\r\t", R"("\b\f\n\r\t")"},
      {"other controls", std::string("\x01\x1f\0z", 4), R"("\u0001\u001f\u0000z")"},
      {"non-ascii stays utf-8", "é漢😀\x7f", "\"é漢😀\x7f\""},
      {"slash unescaped", "a/b", R"("a/b")"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    Context ctx;
    ctx.canonical_url = c.text;
    ExperimentEvent e = event(EventKind::FracAvail, c.text, c.text, c.text);
    e.feature_name = e.owner = c.text;
    SerializedEvents out = serialize_ok(ctx, {e});
    ASSERT_EQ(out.size(), 1u);
    const std::string json = out.documents()[0].json;
    EXPECT_NE(json.find(std::string(R"("3":{"str":)") + c.escaped + "}"), std::string::npos) << json;
    OrderedJson parsed = OrderedJson::parse(json);
    EXPECT_EQ(parsed["3"]["str"], c.text);
    EXPECT_EQ(parsed["109"]["rec"]["17"]["str"], c.text);
    for (const char* key : {"2", "3", "4", "7", "9"}) EXPECT_EQ(parsed["129"]["rec"][key]["str"], c.text);
  }
}

TEST(SerializeEvents, TimestampsAboveI64FailTheWholeBatch) {
  struct Case { const char* name; uint64_t start; uint64_t stop; const char* error; };
  const Case kCases[] = {
      {"both at i64 max", kI64Max, kI64Max, nullptr},
      {"start 2^63", kI64Max + 1, 0, "out of range integral type conversion attempted"},
      {"stop 2^63", 0, kI64Max + 1, "out of range integral type conversion attempted"},
      {"stop u64 max", 0, UINT64_MAX, "out of range integral type conversion attempted"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    ExperimentEvent bad = event(EventKind::FracAvail, "user_id", "u1");
    bad.start_ts = c.start;
    bad.stop_ts = c.stop;
    // The good event comes first: a failure must still leave no partial result.
    Result<SerializedEvents, EventError> result =
        serialize_events(Context{}, {event(EventKind::FracAvail, "user_id", "u1"), bad});
    if (c.error != nullptr) {
      ASSERT_FALSE(result);
      EXPECT_EQ(result.error().message, c.error);
      continue;
    }
    ASSERT_TRUE(result);
    OrderedJson parsed = OrderedJson::parse(result->documents()[1].json);
    EXPECT_EQ(parsed["129"]["rec"]["5"].dump(), R"({"i64":9223372036854775807})");
    EXPECT_EQ(parsed["129"]["rec"]["6"].dump(), R"({"i64":9223372036854775807})");
  }
}

TEST(SerializeEvents, StampMustCoverEveryEvent) {
  Result<SerializedEvents, EventError> result =
      serialize_events_with(Context{}, {event(EventKind::FracAvail, "user_id", "u1")}, stamp(2));
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error().message, "2 event UUIDs given for 1 events");
}

TEST(SerializeEvents, EventDebugText) {
  EXPECT_EQ(event_debug_node(Event{EventKind::Override, R"({"1":{"str":"a\\b"}})"}).render(),
            R"(Event { kind: Override, json: "{\"1\":{\"str\":\"a\\\\b\"}}" })");
}

TEST(Clock, NowMillisIsUtcMilliseconds) {
  auto realtime_ms = [] {
    timeval tv;
    gettimeofday(&tv, nullptr);
    return int64_t{tv.tv_sec} * 1000 + tv.tv_usec / 1000;
  };
  int64_t before = realtime_ms();
  int64_t now = now_millis();
  int64_t after = realtime_ms();
  EXPECT_LE(before, now);
  EXPECT_LE(now, after);
}

}  // namespace
}  // namespace orvane
