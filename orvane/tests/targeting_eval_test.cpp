#include <gtest/gtest.h>

#include <atomic>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <new>
#include <limits>
#include <memory>
#include <optional>
#include <string>

#include "engine/internal.h"

// Counts every allocation of this program, so a test can show that evaluation makes none.
// The replacement pair below is malloc/free underneath; g++ cannot see that the inlined
// delete matches the replaced new and warns about a mismatch that is not there.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
namespace {
std::atomic<long> g_allocations{0};
}  // namespace

void* operator new(std::size_t size) {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace orvane {
namespace {

constexpr std::optional<bool> kTrue = true;
constexpr std::optional<bool> kFalse = false;
constexpr std::optional<bool> kNone = std::nullopt;

std::string show(std::optional<bool> v) { return v ? (*v ? "true" : "false") : "no result"; }

// Builds a tree from its configuration form, for readable tables. Test input only: it
// trusts its JSON and does none of the configuration reader's checks.
TargetingTree tree(const Json& j) {
  const std::string& op = j.begin().key();
  const Json& arg = j.begin().value();
  auto children = [&] {
    std::vector<TargetingTree> out;
    for (const Json& child : arg) out.push_back(tree(child));
    return out;
  };
  ContextField field = ContextField::from_name(arg.is_object() ? arg.value("field", "") : "");
  if (op == "ALL") return {AllNode{children()}};
  if (op == "ANY") return {AnyNode{children()}};
  if (op == "NOT") return {NotNode{std::make_shared<const TargetingTree>(tree(arg))}};
  if (op == "EQ" && arg.contains("value")) return {EqNode{EqOne{field, arg["value"]}}};
  if (op == "EQ") return {EqNode{EqMany{field, arg["values"].get<std::vector<Json>>()}}};
  if (op == "NE") return {NeNode{field, arg["value"]}};
  const Comp comp = op == "GT"   ? Comp::Gt
                    : op == "LT" ? Comp::Lt
                    : op == "GE" ? Comp::Ge
                                 : Comp::Le;
  return {CompareNode{comp, field, arg["value"].get<double>()}};
}

// 2^53, beyond which consecutive integers no longer all have their own double.
constexpr int64_t k2p53 = int64_t{1} << 53;

Context sample_context() {
  Context ctx;
  ctx.user_id = "u1";
  ctx.country_code = "us";
  ctx.app_name = "10.5";
  ctx.device_id = "abc";
  ctx.origin_service = "true";
  ctx.logged_in = true;
  ctx.user_is_employee = false;
  ctx.build_number = 5;
  ctx.cookie_created_timestamp = k2p53;
  ctx.loid_created_timestamp = -k2p53;
  ctx.other_fields = JsonObject{
      {"nothing", nullptr},  {"sum", 0.1 + 0.2},       {"big", uint64_t{1} << 53},
      {"neg", -7},           {"list", Json::array({1, 2})}, {"obj", Json{{"a", 1}}},
      {"plus_five", "+5"},   {"padded", " 5"},         {"nan_text", "nan"},
      {"hex", "0x10"},       {"empty", ""}};
  return ctx;
}

struct EvalCase {
  const char* name;
  const char* tree;
  std::optional<bool> want;
};

const EvalCase kEvalCases[] = {
    // ALL, ANY, NOT
    {"empty ALL", R"({"ALL":[]})", kTrue},
    {"empty ANY", R"({"ANY":[]})", kFalse},
    {"ALL of trues",
     R"({"ALL":[{"EQ":{"field":"user_id","value":"u1"}},)"
     R"({"EQ":{"field":"country_code","value":"us"}}]})", kTrue},
    {"ALL true then no result",
     R"({"ALL":[{"EQ":{"field":"user_id","value":"u1"}},)"
     R"({"EQ":{"field":"locale","value":"en"}}]})", kFalse},
    {"ALL of no result only", R"({"ALL":[{"EQ":{"field":"locale","value":"en"}}]})", kFalse},
    {"ANY no result then true",
     R"({"ANY":[{"EQ":{"field":"locale","value":"en"}},)"
     R"({"EQ":{"field":"user_id","value":"u1"}}]})", kTrue},
    {"ANY of no result only", R"({"ANY":[{"EQ":{"field":"locale","value":"en"}}]})", kFalse},
    {"ANY of falses",
     R"({"ANY":[{"EQ":{"field":"user_id","value":"u2"}},)"
     R"({"EQ":{"field":"country_code","value":"US"}}]})", kFalse},
    {"NOT true", R"({"NOT":{"EQ":{"field":"user_id","value":"u1"}}})", kFalse},
    {"NOT false", R"({"NOT":{"EQ":{"field":"user_id","value":"u2"}}})", kTrue},
    {"NOT over absent field", R"({"NOT":{"EQ":{"field":"locale","value":"en"}}})", kNone},
    {"NOT NOT over absent field",
     R"({"NOT":{"NOT":{"EQ":{"field":"locale","value":"en"}}}})", kNone},
    {"NOT of empty ALL", R"({"NOT":{"ALL":[]}})", kFalse},
    {"ALL over ANY and NOT",
     R"({"ALL":[{"ANY":[{"GT":{"field":"build_number","value":9}},)"
     R"({"EQ":{"field":"logged_in","value":true}}]},)"
     R"({"NOT":{"EQ":{"field":"country_code","value":"de"}}}]})", kTrue},
    // EQ with one value: configured value first
    {"string case matters", R"({"EQ":{"field":"country_code","value":"US"}})", kFalse},
    {"string same bytes", R"({"EQ":{"field":"country_code","value":"us"}})", kTrue},
    {"string against numeric text", R"({"EQ":{"field":"app_name","value":"10.50"}})", kFalse},
    {"number against int field", R"({"EQ":{"field":"build_number","value":5}})", kTrue},
    {"float against int field", R"({"EQ":{"field":"build_number","value":5.0}})", kTrue},
    {"other number against int field", R"({"EQ":{"field":"build_number","value":6}})", kFalse},
    {"numeric text against int field", R"({"EQ":{"field":"build_number","value":"5"}})", kTrue},
    {"exponent text against int field",
     R"({"EQ":{"field":"build_number","value":"0.5e1"}})", kTrue},
    {"non-numeric text against int field",
     R"({"EQ":{"field":"build_number","value":"abc"}})", kFalse},
    {"number against numeric text", R"({"EQ":{"field":"app_name","value":10.5}})", kTrue},
    {"number against text with plus", R"({"EQ":{"field":"plus_five","value":5}})", kTrue},
    {"number against padded text", R"({"EQ":{"field":"padded","value":5}})", kFalse},
    {"number against hex text", R"({"EQ":{"field":"hex","value":16}})", kFalse},
    {"number against empty text", R"({"EQ":{"field":"empty","value":0}})", kFalse},
    {"number against nan text", R"({"EQ":{"field":"nan_text","value":0}})", kFalse},
    {"text against negative int", R"({"EQ":{"field":"neg","value":"-7"}})", kTrue},
    {"float against negative int", R"({"EQ":{"field":"neg","value":-7.0}})", kTrue},
    {"0.3 against 0.1 + 0.2", R"({"EQ":{"field":"sum","value":0.3}})", kTrue},
    {"4 ulps above 2^53 (stored u64)", R"({"EQ":{"field":"big","value":9007199254741000}})", kTrue},
    {"5 ulps above 2^53 (stored u64)",
     R"({"EQ":{"field":"big","value":9007199254741002}})", kFalse},
    {"4 ulps above 2^53 (i64 field)",
     R"({"EQ":{"field":"cookie_created_timestamp","value":9007199254741000}})", kTrue},
    {"5 ulps above 2^53 (i64 field)",
     R"({"EQ":{"field":"cookie_created_timestamp","value":9007199254741002}})", kFalse},
    {"4 ulps below -2^53",
     R"({"EQ":{"field":"loid_created_timestamp","value":-9007199254741000}})", kTrue},
    {"opposite sign of -2^53",
     R"({"EQ":{"field":"loid_created_timestamp","value":9007199254740992}})", kFalse},
    {"true against text true", R"({"EQ":{"field":"origin_service","value":true}})", kNone},
    {"true against logged_in true", R"({"EQ":{"field":"logged_in","value":true}})", kTrue},
    {"false against logged_in true", R"({"EQ":{"field":"logged_in","value":false}})", kFalse},
    {"true against employee false", R"({"EQ":{"field":"user_is_employee","value":true}})", kFalse},
    {"number against boolean", R"({"EQ":{"field":"logged_in","value":1}})", kNone},
    {"text against boolean", R"({"EQ":{"field":"logged_in","value":"true"}})", kNone},
    {"null against present null", R"({"EQ":{"field":"nothing","value":null}})", kTrue},
    {"null against absent field", R"({"EQ":{"field":"locale","value":null}})", kNone},
    {"null against unknown key", R"({"EQ":{"field":"missing","value":null}})", kNone},
    {"null against string", R"({"EQ":{"field":"user_id","value":null}})", kFalse},
    {"null against boolean", R"({"EQ":{"field":"logged_in","value":null}})", kFalse},
    {"null against array", R"({"EQ":{"field":"list","value":null}})", kFalse},
    {"string against null", R"({"EQ":{"field":"nothing","value":"u1"}})", kNone},
    {"number against null", R"({"EQ":{"field":"nothing","value":5}})", kNone},
    {"number against array", R"({"EQ":{"field":"list","value":1}})", kNone},
    {"string against object", R"({"EQ":{"field":"obj","value":"a"}})", kNone},
    {"equal arrays", R"({"EQ":{"field":"list","value":[1,2]}})", kNone},
    {"equal objects", R"({"EQ":{"field":"obj","value":{"a":1}}})", kNone},
    // EQ with several values: context value first, any no result wins
    {"empty list", R"({"EQ":{"field":"user_id","values":[]}})", kFalse},
    {"empty list on absent field", R"({"EQ":{"field":"locale","values":[]}})", kNone},
    {"second value matches", R"({"EQ":{"field":"user_id","values":["x","u1"]}})", kTrue},
    {"no value matches", R"({"EQ":{"field":"user_id","values":["x","y"]}})", kFalse},
    {"match then boolean", R"({"EQ":{"field":"user_id","values":["u1",true]}})", kNone},
    {"boolean then match", R"({"EQ":{"field":"user_id","values":[true,"u1"]}})", kNone},
    {"string field, null value", R"({"EQ":{"field":"user_id","values":[null]}})", kNone},
    {"null field, null value", R"({"EQ":{"field":"nothing","values":[null]}})", kTrue},
    {"null field, other values", R"({"EQ":{"field":"nothing","values":[1,"x",true]}})", kFalse},
    {"boolean field, number value", R"({"EQ":{"field":"logged_in","values":[1]}})", kNone},
    {"boolean field, boolean value",
     R"({"EQ":{"field":"logged_in","values":[false,true]}})", kTrue},
    {"int field, numeric text", R"({"EQ":{"field":"build_number","values":["5",6]}})", kTrue},
    {"int field, non-numeric text", R"({"EQ":{"field":"build_number","values":["abc"]}})", kFalse},
    {"array field", R"({"EQ":{"field":"list","values":[[1,2]]}})", kNone},
    // NE
    {"NE same", R"({"NE":{"field":"country_code","value":"us"}})", kFalse},
    {"NE other case", R"({"NE":{"field":"country_code","value":"US"}})", kTrue},
    {"NE absent field", R"({"NE":{"field":"locale","value":"en"}})", kNone},
    {"NE boolean against text", R"({"NE":{"field":"origin_service","value":true}})", kNone},
    {"NE null against string", R"({"NE":{"field":"user_id","value":null}})", kTrue},
    {"NE null against null", R"({"NE":{"field":"nothing","value":null}})", kFalse},
    {"NE non-numeric text against int", R"({"NE":{"field":"build_number","value":"abc"}})", kTrue},
    {"NE array", R"({"NE":{"field":"list","value":[1,2]}})", kNone},
    // GT, LT, GE, LE
    {"GE 0.3 against 0.1 + 0.2", R"({"GE":{"field":"sum","value":0.3}})", kTrue},
    {"LE 0.3 against 0.1 + 0.2", R"({"LE":{"field":"sum","value":0.3}})", kTrue},
    {"GT 0.3 against 0.1 + 0.2", R"({"GT":{"field":"sum","value":0.3}})", kTrue},
    {"LT 0.3 against 0.1 + 0.2", R"({"LT":{"field":"sum","value":0.3}})", kFalse},
    {"GT equal int", R"({"GT":{"field":"build_number","value":5}})", kFalse},
    {"GE equal int", R"({"GE":{"field":"build_number","value":5}})", kTrue},
    {"LT equal int", R"({"LT":{"field":"build_number","value":5}})", kFalse},
    {"LE equal int", R"({"LE":{"field":"build_number","value":5}})", kTrue},
    {"GT below", R"({"GT":{"field":"build_number","value":4.5}})", kTrue},
    {"LT above", R"({"LT":{"field":"build_number","value":5.5}})", kTrue},
    {"LE one ulp below", R"({"LE":{"field":"build_number","value":4.999999999999999}})", kTrue},
    {"LT one ulp below", R"({"LT":{"field":"build_number","value":4.999999999999999}})", kFalse},
    {"GT on numeric text", R"({"GT":{"field":"app_name","value":10}})", kTrue},
    {"GT on numeric text, equal", R"({"GT":{"field":"app_name","value":10.5}})", kFalse},
    {"GE on numeric text, equal", R"({"GE":{"field":"app_name","value":10.5}})", kTrue},
    {"LT on numeric text", R"({"LT":{"field":"app_name","value":11}})", kTrue},
    {"GE on text with plus", R"({"GE":{"field":"plus_five","value":5}})", kTrue},
    {"GT on non-numeric text", R"({"GT":{"field":"device_id","value":0}})", kNone},
    {"GT on padded text", R"({"GT":{"field":"padded","value":0}})", kNone},
    {"GT on empty text", R"({"GT":{"field":"empty","value":0}})", kNone},
    {"GT on boolean", R"({"GT":{"field":"logged_in","value":0}})", kNone},
    {"GT on null", R"({"GT":{"field":"nothing","value":0}})", kNone},
    {"GT on array", R"({"GT":{"field":"list","value":0}})", kNone},
    {"GT on absent", R"({"GT":{"field":"locale","value":0}})", kNone},
    {"LT negative", R"({"LT":{"field":"neg","value":0}})", kTrue},
    {"LT beyond i32",
     R"({"LT":{"field":"loid_created_timestamp","value":-9007199254740991}})", kTrue},
    {"GE 4 ulps above 2^53",
     R"({"GE":{"field":"cookie_created_timestamp","value":9007199254741000}})", kTrue},
    {"GT 4 ulps above 2^53",
     R"({"GT":{"field":"cookie_created_timestamp","value":9007199254741000}})", kFalse},
    {"GT on nan text", R"({"GT":{"field":"nan_text","value":0}})", kFalse},
    {"LT on nan text", R"({"LT":{"field":"nan_text","value":0}})", kFalse},
    {"GE on nan text", R"({"GE":{"field":"nan_text","value":0}})", kFalse},
    {"LE on nan text", R"({"LE":{"field":"nan_text","value":0}})", kFalse},
};

TEST(Eval, Table) {
  const Context ctx = sample_context();
  for (const EvalCase& c : kEvalCases) {
    SCOPED_TRACE(std::string(c.name) + ": " + c.tree);
    EXPECT_EQ(show(eval(tree(Json::parse(c.tree)), ctx)), show(c.want));
  }
}

TEST(Eval, AllocatesNothing) {
  const Context ctx = sample_context();
  std::vector<TargetingTree> trees;
  for (const EvalCase& c : kEvalCases) trees.push_back(tree(Json::parse(c.tree)));
  const long before = g_allocations.load();
  int answered = 0;
  for (const TargetingTree& t : trees) answered += eval(t, ctx).has_value();
  EXPECT_EQ(g_allocations.load() - before, 0);
  EXPECT_GT(answered, 0);
}

TEST(Eval, EmptyContextLeavesEveryLeafWithoutResult) {
  const Context empty;
  for (const char* leaf : {R"({"EQ":{"field":"user_id","value":null}})",
                           R"({"EQ":{"field":"nothing","values":[]}})",
                           R"({"NE":{"field":"build_number","value":1}})",
                           R"({"LE":{"field":"sum","value":1}})"}) {
    SCOPED_TRACE(leaf);
    EXPECT_EQ(show(eval(tree(Json::parse(leaf)), empty)), show(kNone));
  }
}

struct PairCase {
  const char* name;
  const char* a;
  const char* b;
  std::optional<bool> want;
};

// value_eq is asymmetric; each pair is listed in the order given.
const PairCase kValueEqCases[] = {
    {"null, null", "null", "null", kTrue},
    {"null, number", "null", "0", kFalse},
    {"null, object", "null", "{}", kFalse},
    {"number, null", "0", "null", kNone},
    {"string, null", "\"\"", "null", kNone},
    {"bool, null", "false", "null", kNone},
    {"bool, bool", "true", "true", kTrue},
    {"bool, other bool", "true", "false", kFalse},
    {"bool, number", "true", "1", kNone},
    {"number, bool", "1", "true", kNone},
    {"u64, i64", "3", "-3", kFalse},
    {"i64, float", "-3", "-3.0", kTrue},
    {"number, text", "1", "\"1.0\"", kTrue},
    {"text, number", "\"1e0\"", "1", kTrue},
    {"number, bad text", "1", "\"one\"", kFalse},
    {"bad text, number", "\"one\"", "1", kFalse},
    {"text, text", "\"a\"", "\"a\"", kTrue},
    {"text, longer text", "\"a\"", "\"ab\"", kFalse},
    {"text, array", "\"a\"", "[\"a\"]", kNone},
    {"array, array", "[]", "[]", kNone},
    {"object, null", "{}", "null", kNone},
};

TEST(ValueEq, Table) {
  for (const PairCase& c : kValueEqCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(show(value_eq(Json::parse(c.a), Json::parse(c.b))), show(c.want));
  }
}

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNan = std::numeric_limits<double>::quiet_NaN();
constexpr double kMax = std::numeric_limits<double>::max();
constexpr double kEps = std::numeric_limits<double>::epsilon();

double ulps_up(double x, int n) {
  for (int i = 0; i < n; ++i) x = std::nextafter(x, kInf);
  return x;
}

TEST(ApproxEq, Table) {
  struct Case { const char* name; double x; double y; bool want; };
  const Case kCases[] = {
      {"equal", 2.5, 2.5, true},
      {"zero and negative zero", 0.0, -0.0, true},
      {"0.1 + 0.2 and 0.3", 0.1 + 0.2, 0.3, true},
      {"within 2^-52 near zero", 1e-17, 2e-16, true},
      {"just over 2^-52 near zero", 0.0, kEps * 1.5, false},
      {"tiny values of opposite sign", -1e-300, 1e-300, true},
      {"4 ulps at 1e300", 1e300, ulps_up(1e300, 4), true},
      {"5 ulps at 1e300", 1e300, ulps_up(1e300, 5), false},
      {"4 ulps, other order", ulps_up(1e300, 4), 1e300, true},
      {"4 ulps at 1", 1.0, ulps_up(1.0, 4), true},
      {"5 ulps at 1", 1.0, ulps_up(1.0, 5), false},
      {"4 ulps below zero", -1e300, -ulps_up(1e300, 4), true},
      // The bit patterns of x and -x are 2^63 apart: the wrapped difference is the most
      // negative integer, whose absolute value must saturate rather than stay negative.
      {"one and minus one", 1.0, -1.0, false},
      {"large opposite signs", 1e300, -1e300, false},
      {"largest double and infinity are adjacent", kMax, kInf, true},
      {"infinities", kInf, kInf, true},
      {"opposite infinities", kInf, -kInf, false},
      {"nan and number", kNan, 1.0, false},
      {"nan and infinity", kNan, kInf, false},
      // Not equal by ==, but the same bits are 0 units apart.
      {"nan and the same nan", kNan, kNan, true},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(approx_eq(c.x, c.y), c.want);
  }
}

TEST(CmpFloats, Table) {
  struct Case { double x; double t; bool gt, lt, ge, le; };
  const Case kCases[] = {
      {1.0, 2.0, false, true, false, true},
      {2.0, 1.0, true, false, true, false},
      {2.0, 2.0, false, false, true, true},
      {ulps_up(2.0, 3), 2.0, true, false, true, true},
      {2.0, ulps_up(2.0, 3), false, true, true, true},
      {ulps_up(2.0, 5), 2.0, true, false, true, false},
      {-0.0, 0.0, false, false, true, true},
      {kNan, 0.0, false, false, false, false},
      {1.0, kNan, false, false, false, false},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(std::to_string(c.x) + " vs " + std::to_string(c.t));
    EXPECT_EQ(cmp_floats(Comp::Gt, c.x, c.t), c.gt);
    EXPECT_EQ(cmp_floats(Comp::Lt, c.x, c.t), c.lt);
    EXPECT_EQ(cmp_floats(Comp::Ge, c.x, c.t), c.ge);
    EXPECT_EQ(cmp_floats(Comp::Le, c.x, c.t), c.le);
  }
}

TEST(ParseDecimal, Table) {
  struct Case { const char* text; std::optional<double> want; };
  const Case kCases[] = {
      {"5", 5.0}, {"+5", 5.0}, {"-5", -5.0}, {"00012", 12.0}, {"1.", 1.0}, {".5", 0.5},
      {"-.5", -0.5}, {"1.5e2", 150.0}, {"1E3", 1000.0}, {"1e+3", 1000.0}, {"1e-3", 0.001},
      {"1.e5", 1e5}, {"-0", -0.0}, {"0.1", 0.1}, {"0.30000000000000004", 0.1 + 0.2},
      {"9007199254740993", 9007199254740992.0},  // halfway: ties to even
      {"4.9e-324", 4.9e-324}, {"1e400", kInf}, {"-1e400", -kInf}, {"1e-400", 0.0},
      {"-1e-400", -0.0}, {"0.000000000000000000001e330", kInf},
      {"1000000000000000000000e-330", 1e-309}, {"1e99999999999999999999", kInf},
      {"1e-99999999999999999999", 0.0}, {"0e99999", 0.0},
      {"inf", kInf}, {"INF", kInf}, {"-Infinity", -kInf}, {"+iNfInItY", kInf},
      {"", std::nullopt}, {"+", std::nullopt}, {"-", std::nullopt}, {".", std::nullopt},
      {"+.", std::nullopt}, {"e5", std::nullopt}, {".e5", std::nullopt},
      {"1e", std::nullopt}, {"1e+", std::nullopt}, {"1e5.0", std::nullopt},
      {" 1", std::nullopt}, {"1 ", std::nullopt}, {"0x10", std::nullopt},
      {"1_000", std::nullopt}, {"1,5", std::nullopt}, {"1.2.3", std::nullopt},
      {"++1", std::nullopt}, {"+-1", std::nullopt}, {"infinit", std::nullopt},
      {"infinityy", std::nullopt}, {"in", std::nullopt}, {"nan(1)", std::nullopt},
      {"nana", std::nullopt}, {"٣", std::nullopt}, {"１", std::nullopt},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(std::string("\"") + c.text + "\"");
    std::optional<double> got = parse_decimal(c.text);
    ASSERT_EQ(got.has_value(), c.want.has_value());
    // Bit equality tells -0.0 from 0.0 and catches results that are merely close.
    if (got) {
      EXPECT_EQ(std::bit_cast<uint64_t>(*got), std::bit_cast<uint64_t>(*c.want)) << *got;
    }
  }
  for (const char* text : {"nan", "NaN", "+nan", "-NAN"}) {
    SCOPED_TRACE(text);
    std::optional<double> got = parse_decimal(text);
    ASSERT_TRUE(got.has_value());
    EXPECT_TRUE(std::isnan(*got));
  }
  // Where the value lands is decided by its magnitude, not by the exponent's sign.
  const std::string zeros(400, '0');
  EXPECT_EQ(parse_decimal("0." + zeros + "1e10"), 0.0);
  EXPECT_EQ(parse_decimal("1" + zeros + "e-10"), kInf);
  // Only the viewed characters count: the digits after the view's end are not read.
  EXPECT_EQ(parse_decimal(std::string_view("12345", 2)), 12.0);
  EXPECT_EQ(parse_decimal(std::string_view("1\0" "5", 3)), std::nullopt);
}

}  // namespace
}  // namespace orvane
