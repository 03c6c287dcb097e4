#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "batch/assign.h"
#include "batch/table_rows.h"
#include "batch_test_support.h"
#include "engine_test_support.h"

namespace orvane {
namespace {

using namespace testing;
using std::nullopt;
using Strings = std::vector<std::optional<std::string>>;
using Bools = std::vector<std::optional<bool>>;
using Columns = std::vector<ArrowColumn>;

// Each row as the engine sees it: its context's debug text, or "error: " and the messages.
// The batch may start `skip` rows into its columns, as a slice of a record batch does.
std::vector<std::string> row_texts(Columns columns, const std::unordered_set<std::string>& kept,
                                   int64_t skip = 0) {
  ArrowTable table(std::move(columns));
  table.array.offset = skip;
  table.array.length -= skip;
  auto rows = TableRows::bind(table.schema, table.array, kept);
  if (!rows) return {"bind: " + rows.error()};
  std::vector<std::string> out;
  Context scratch;
  std::string error;
  for (int64_t i = 0; i < rows->rows(); ++i) {
    const Context* ctx = rows->context(i, scratch, error);
    out.push_back(ctx ? context_debug(*ctx) : "error: " + error);
  }
  return out;
}

template <class Fill>
std::string ctx_text(Fill fill) {
  Context c;
  fill(c);
  return context_debug(c);
}

Columns columns(std::function<void(Columns&)> add) {
  Columns c;
  add(c);
  return c;
}

TEST(BatchRows, ColumnsConvertAsMakeCtxConvertsKeys) {
  struct Case {
    const char* name;
    Columns columns;
    std::vector<std::string> rows;
  };
  Case cases[] = {
      {"strings, booleans and integers of any width; a null is an absent key",
       columns([](Columns& c) {
         c.push_back(ArrowColumn::texts("user_id", Strings{"u1", nullopt}));
         c.push_back(ArrowColumn::bools("logged_in", Bools{true, nullopt}));
         c.push_back(ArrowColumn::fixed<int8_t>("build_number", "c", {-5, nullopt}));
         c.push_back(ArrowColumn::fixed<uint64_t>("loid_created_timestamp", "L",
                                                  {1700000000000ull, nullopt}));
       }),
       {ctx_text([](Context& c) {
          c.user_id = "u1", c.logged_in = true, c.build_number = -5;
          c.loid_created_timestamp = 1700000000000;
        }),
        context_debug(Context{})}},
      {"rejected values give make_ctx's messages, in its key order",
       columns([](Columns& c) {
         c.push_back(ArrowColumn::fixed<int32_t>("build_number", "i", {2147483647, nullopt, 7}));
         c.push_back(ArrowColumn::fixed<int64_t>("user_id", "l", {nullopt, 5, 6}));
         c.push_back(ArrowColumn::fixed<int8_t>("logged_in", "c", {nullopt, nullopt, 1}));
       }),
       {ctx_text([](Context& c) { c.build_number = 2147483647; }),
        "error: \"user_id\" type mismatch (string).",
        "error: \"user_id\" type mismatch (string).\n\"logged_in\" type mismatch (bool)."}},
      {"integer keys: the 32-bit range of build_number, booleans as 0 and 1, never floats",
       columns([](Columns& c) {
         c.push_back(ArrowColumn::fixed<int64_t>("build_number", "l", {2147483648, 1}));
         c.push_back(ArrowColumn::bools("cookie_created_timestamp", Bools{nullopt, true}));
         c.push_back(ArrowColumn::fixed<uint64_t>("loid_created_timestamp", "L",
                                                  {nullopt, 1ull << 63}));
         c.push_back(ArrowColumn::fixed<double>("oauth_client_id", "g", {nullopt, nullopt}));
       }),
       {"error: \"build_number\" type mismatch (integer).",
        "error: \"loid_created_timestamp\" type mismatch (integer)."}},
      {"text that is not UTF-8 and bytes are no str; dictionaries are read through",
       columns([](Columns& c) {
         c.push_back(ArrowColumn::texts("locale", Strings{"\xff", "en", nullopt}));
         c.push_back(ArrowColumn::texts("app_name", Strings{nullopt, nullopt, "x"}, "z"));
         c.push_back(ArrowColumn::dictionary("country_code", {1, 0, nullopt}, Strings{"US", "CA"}));
       }),
       {"error: \"locale\" type mismatch (string).",
        ctx_text([](Context& c) { c.locale = "en", c.country_code = "US"; }),
        "error: \"app_name\" type mismatch (string)."}},
      {"other columns are other_fields entries: kept ones built, all checked",
       columns([](Columns& c) {
         c.push_back(ArrowColumn::texts("plan", Strings{"pro", nullopt, "x"}));
         c.push_back(ArrowColumn::fixed<double>("n", "g",
                                                {2.5, std::numeric_limits<double>::quiet_NaN(), 1}));
         c.push_back(ArrowColumn::fixed<uint64_t>("big", "L", {1, 2, 3}));
         c.push_back(ArrowColumn::texts("blob", Strings{nullopt, nullopt, "b"}, "z"));
       }),
       {ctx_text([](Context& c) {
          c.other_fields = JsonObject{{"n", Json(2.5)}, {"plan", Json("pro")}};
        }),
        ctx_text([](Context& c) { c.other_fields = JsonObject{}; }),
        "error: \"other_fields\" type mismatch (hashmap)."}},
      {"kept integers: unsigned beyond 64 signed bits become floats",
       columns([](Columns& c) {
         c.push_back(ArrowColumn::fixed<uint64_t>("n", "L", {18446744073709551615ull, 3}));
         c.push_back(ArrowColumn::fixed<int16_t>("plan", "s", {-2, nullopt}));
       }),
       {ctx_text([](Context& c) {
          c.other_fields = JsonObject{{"n", Json(1.8446744073709552e19)}, {"plan", Json(-2)}};
        }),
        ctx_text([](Context& c) { c.other_fields = JsonObject{{"n", Json(3u)}}; })}},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(row_texts(std::move(c.columns), {"plan", "n"}), c.rows);
  }
}

// Arrow slices keep the whole buffers and move the offset: of each column, of the batch,
// or of both. Every row must be read from its own position.
TEST(BatchRows, SlicedArraysAreReadFromTheirOffsets) {
  auto sliced = [](ArrowColumn column, int64_t drop) {
    column.array_.offset += drop;
    column.array_.length -= drop;
    return column;
  };
  Columns c;
  c.push_back(sliced(ArrowColumn::texts("user_id", Strings{"x", "x", "u1", nullopt, "\xff"}), 1));
  c.push_back(sliced(ArrowColumn::bools("logged_in", Bools{false, false, true, nullopt, false}),
                     1));
  c.push_back(sliced(ArrowColumn::fixed<int64_t>("build_number", "l", {0, 0, 5, 1ll << 40, -3}),
                     1));
  c.push_back(sliced(ArrowColumn::fixed<int16_t>("loid_created_timestamp", "s",
                                                 {0, 0, nullopt, 12, -3}),
                     1));
  c.push_back(ArrowColumn::fixed<int32_t>("cookie_created_timestamp", "i", {0, 1, 2, 3}));
  c.push_back(ArrowColumn::texts("country_code", Strings{"A", "B", "C", "D"}));
  // The batch starts one row in as well: row r reads cell r + 1 of the last two columns,
  // and r + 2 of the sliced ones.
  EXPECT_EQ(row_texts(std::move(c), {}, 1),
            (std::vector<std::string>{
                       ctx_text([](Context& x) {
                         x.user_id = "u1", x.logged_in = true, x.build_number = 5;
                         x.cookie_created_timestamp = 1, x.country_code = "B";
                       }),
                       "error: \"build_number\" type mismatch (integer).",
                       "error: \"user_id\" type mismatch (string).",
                   }));
}

TEST(BatchRows, MalformedArraysAreRefused) {
  struct Case {
    const char* name;
    std::function<void(ArrowColumn&)> damage;
    const char* error;
  };
  const Case kCases[] = {
      {"too few buffers", [](ArrowColumn& c) { c.array_.n_buffers = 2; },
       "bind: column \"user_id\": a column of type u has 2 buffers"},
      {"nulls without a bitmap", [](ArrowColumn& c) { c.array_.buffers[0] = nullptr; },
       "bind: column \"user_id\": a column has nulls but no validity bitmap"},
      {"shorter than the table", [](ArrowColumn& c) { c.array_.length = 1; },
       "bind: column \"user_id\" is shorter than the table"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    Columns cols;
    cols.push_back(ArrowColumn::texts("user_id", Strings{"a", nullopt}));
    cols.push_back(ArrowColumn::texts("locale", Strings{"a", "b"}));
    c.damage(cols[0]);
    EXPECT_EQ(row_texts(std::move(cols), {}), std::vector<std::string>{c.error});
  }
}

// One output row as "variant|value|decided_by|bucket|error", "-" for a null; in long
// format prefixed by "row feature ".
std::vector<std::string> answer_texts(const Answers& answers) {
  std::vector<std::string> out;
  for (const BuiltBatch& batch : answers.batches) {
    for (int64_t r = 0; r < batch.front().length(); ++r) {
      std::string line;
      for (const ColumnBuilder& column : batch) {
        if (!line.empty()) line += column.name() == "variant" ? " " : "|";
        if (!((column.validity()[r / 8] >> (r % 8)) & 1)) {
          line += "-";
        } else if (column.type() == ColumnBuilder::Type::Utf8) {
          line += column.data().substr(column.offsets()[r], column.offsets()[r + 1] - column.offsets()[r]);
        } else if (column.type() == ColumnBuilder::Type::Int16) {
          line += std::to_string(column.int16s()[r]);
        } else {
          line += std::to_string(column.int64s()[r]);
        }
      }
      out.push_back(line);
    }
  }
  return out;
}

// What choose answers, in the same layout but without decided_by and bucket.
std::string choose_text(const Orvane& engine, const char* feature, const Context* ctx,
                        const std::string& conversion_error,
                        const std::optional<ContextField>& identifier_type = nullopt) {
  if (!ctx) return "-|-|" + conversion_error;
  DecideResult result = choose(engine, feature, *ctx, identifier_type);
  if (!result) return "-|-|" + result.error().display();
  if (!*result) return "-|-|-";
  const Decision& d = **result;
  return d.variant_name.value_or("-") + "|" + (d.value.is_null() ? "-" : json_compact(d.value)) +
         "|-";
}

// Drops decided_by and bucket from an answer text.
std::string without_trace(const std::string& text) {
  size_t first = text.find('|');
  size_t second = text.find('|', first + 1);
  size_t fourth = text.find('|', text.find('|', second + 1) + 1);
  return text.substr(0, second) + text.substr(fourth);
}

Orvane test_engine() {
  Feature hg = experiment(90, "hg", "holdout");
  hg.variant_set->variants = {Variant{"holdout", 0.0f, 0.1f}, Variant{"control_1", 0.1f, 0.2f}};
  hg.value = Json(3);
  hg.value_type = ValueType::Integer;

  Feature exp = experiment(7, "exp");
  exp.variant_set->variants = {Variant{"control_1", 0.0f, 0.3f}, Variant{"treatment", 0.3f, 0.6f}};
  exp.variant_set->holdout = share(hg);
  exp.targeting = TargetingTree{AnyNode{{eq("country_code", Json("US")), eq("plan", Json("pro")),
                                         TargetingTree{CompareNode{Comp::Ge,
                                                                   ContextField::from_name("build_number"),
                                                                   1200.0}}}}};
  exp.overrides = std::vector<OverrideMap>{{{"forced", eq("user_id", Json("u3"))}}};

  Feature late = experiment(8, "late");
  late.variant_set->start_ts = uint64_t{1} << 63;
  Feature by_plan = experiment(9, "by_plan");
  by_plan.variant_set->bucket_val = ContextField::from_name("plan");
  by_plan.variant_set->variants = {Variant{"half", 0.0f, 0.5f}};

  FeatureList features{share(exp), share(late), share(by_plan),
                       share(dynamic_config(5, "cfg", Json::parse(R"({"b":[1,2.5],"a":"x"})"),
                                            ValueType::Map)),
                       share(hg)};
  return Orvane(std::move(features), chain("darkmode targeting overrides holdout "
                                           "fractional_availability value"));
}

// Rows u0..u59 with countries, builds and plans varied, some keys null, one bad value.
Columns generated_rows() {
  Strings users, countries, plans;
  std::vector<std::optional<int64_t>> builds;
  for (int i = 0; i < 60; ++i) {
    users.push_back(i % 17 == 5 ? Strings::value_type() : "u" + std::to_string(i));
    countries.push_back(i % 3 == 0 ? "US" : i % 3 == 1 ? Strings::value_type() : "CA");
    plans.push_back(i % 4 == 0 ? "pro" : i % 4 == 1 ? Strings::value_type() : "free");
    builds.push_back(i % 7 == 0 ? std::optional<int64_t>() : i == 13 ? int64_t{1} << 40 : 1000 + 37 * i);
  }
  Columns c;
  c.push_back(ArrowColumn::texts("user_id", users));
  c.push_back(ArrowColumn::texts("country_code", countries));
  c.push_back(ArrowColumn::fixed<int64_t>("build_number", "l", builds));
  c.push_back(ArrowColumn::texts("plan", plans));
  return c;
}

TEST(BatchAssign, AnswersAreChooseAnswersRowByRow) {
  const Orvane engine = test_engine();
  ArrowTable table(generated_rows());
  const auto kept = other_fields_read(engine);
  EXPECT_EQ(kept, (std::unordered_set<std::string>{"plan"}));
  auto rows = TableRows::bind(table.schema, table.array, kept);
  ASSERT_TRUE(rows);
  const std::vector<const RowSource*> sources{&*rows};

  for (const char* feature : {"exp", "late", "by_plan", "cfg"}) {
    SCOPED_TRACE(feature);
    std::vector<std::string> answers = answer_texts(assign(engine, feature, sources, {}));
    ASSERT_EQ(answers.size(), 60u);
    Context scratch;
    std::string error;
    for (int64_t i = 0; i < 60; ++i) {
      const Context* ctx = rows->context(i, scratch, error);
      EXPECT_EQ(without_trace(answers[i]), choose_text(engine, feature, ctx, error)) << "row " << i;
    }
  }
}

TEST(BatchAssign, DecidedByAndBucket) {
  const Orvane engine = test_engine();
  const char* kUsers[] = {"u3", "u1", "u2", "u4", "u6", "u5"};
  Columns c;
  c.push_back(ArrowColumn::texts("user_id", Strings(std::begin(kUsers), std::end(kUsers))));
  c.push_back(ArrowColumn::texts("country_code", Strings{"US", "US", "US", "US", "US", "CA"}));
  ArrowTable table(std::move(c));
  auto rows = TableRows::bind(table.schema, table.array, {});
  ASSERT_TRUE(rows);
  std::vector<std::string> answers = answer_texts(assign(engine, "exp", {&*rows}, {}));
  ASSERT_EQ(answers.size(), 6u);
  EXPECT_EQ(answers[0], "forced|\"forced\"|overrides|-|-");
  EXPECT_EQ(answers[5], "-|-|-|-|-");  // targeted out before bucketing
  for (size_t i = 1; i < 5; ++i) {
    SCOPED_TRACE(kUsers[i]);
    Context ctx;
    ctx.user_id = kUsers[i], ctx.country_code = "US";
    DecideResult chosen = choose(engine, "exp", ctx, nullopt);
    ASSERT_TRUE(chosen);
    const Decision d = chosen->value_or(Decision{});
    // Held out by the group, or bucketed by the feature's own seed "7.exp.1<user>" (which
    // gives the bucket also when no variant holds it).
    const std::string bucket = std::to_string(bucket_of(std::string("7.exp.1") + kUsers[i]));
    const std::string expected =
        d.variant_name ? *d.variant_name + "|-|fractional_availability|" + bucket + "|-"
        : d.value == Json(3) ? "-|3|holdout|-|-"
                                      : "-|-|-|" + bucket + "|-";
    EXPECT_EQ(answers[i], expected);
  }
}

TEST(BatchAssign, ThreadsAndBatchSizesGiveTheSameTable) {
  const Orvane engine = test_engine();
  ArrowTable table(generated_rows());
  auto rows = TableRows::bind(table.schema, table.array, other_fields_read(engine));
  ASSERT_TRUE(rows);
  const std::vector<const RowSource*> sources{&*rows, &*rows};
  const auto one = answer_texts(assign_all(engine, sources, {nullopt, 1, 1 << 16}));
  ASSERT_EQ(one.size(), 2u * 60 * 4);  // exp, late, by_plan, hg per row
  // The second copy of the table continues the row numbers.
  EXPECT_EQ(one[4 * 60].substr(0, 7), "60|exp ");
  EXPECT_EQ(one[4 * 60].substr(7), one[0].substr(6));
  EXPECT_EQ(answer_texts(assign_all(engine, sources, {nullopt, 2, 7})), one);
  EXPECT_EQ(answer_texts(assign_all(engine, sources, {nullopt, 3, 1})), one);
}

TEST(BatchAssign, FeatureLevelErrorsAreEveryRowsError) {
  const Orvane engine = test_engine();
  ArrowTable table(generated_rows());
  auto rows = TableRows::bind(table.schema, table.array, {});
  ASSERT_TRUE(rows);
  struct Case {
    const char* feature;
    std::optional<ContextField> identifier_type;
    const char* error;
  };
  const Case kCases[] = {
      {"missing", nullopt, "Feature \"missing\" not found."},
      {"exp", ContextField::from_name("device_id"),
       "Requested identifier_type: \"device_id\" is incompatible with experiment's bucket_val = "
       "user_id."},
      {"cfg", ContextField::from_name("user_id"), "Invalid Feature configuration."},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.feature);
    auto answers = answer_texts(assign(engine, c.feature, {&*rows}, {c.identifier_type, 2, 8}));
    EXPECT_EQ(answers, std::vector<std::string>(60, std::string("-|-|-|-|") + c.error));
  }
  EXPECT_EQ(answer_texts(every_row_failing({&*rows}, "Orvane not found.", true, {nullopt, 1, 50}))[59],
            "59|- -|-|-|-|Orvane not found.");
}

// Columns grow in steps when no room was reserved, and their buffers may hold room past
// the last row; exported and read back, every cell must still be the one appended.
TEST(BatchExport, ColumnsReadBackWhateverRoomWasReserved) {
  struct Case {
    const char* name;
    int64_t reserved;
  };
  const Case kCases[] = {{"nothing reserved", 0}, {"room for some rows", 10},
                         {"room for every row", 300}, {"room to spare", 1000}};
  constexpr int kRows = 300;
  // Row i: null every third row, else a text of i % 40 letters (empty ones too) and i * 7.
  auto expected = [](int i) {
    return i % 3 == 0 ? std::string("-|-|-")
                      : std::string(i % 40, static_cast<char>('a' + i % 26)) + "|" +
                            std::to_string(i * 7) + "|" + std::to_string(i * 7);
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    BuiltBatch batch;
    batch.emplace_back("text", ColumnBuilder::Type::Utf8);
    batch.emplace_back("small", ColumnBuilder::Type::Int16);
    batch.emplace_back("large", ColumnBuilder::Type::Int64);
    for (ColumnBuilder& column : batch) column.reserve(c.reserved);
    for (int i = 0; i < kRows; ++i) {
      if (i % 3 == 0) {
        for (ColumnBuilder& column : batch) column.append_null();
        continue;
      }
      batch[0].append_text(std::string(i % 40, static_cast<char>('a' + i % 26)));
      batch[1].append_int(i * 7);
      batch[2].append_int(i * 7);
    }
    ArrowSchema schema;
    export_schema(batch, &schema);
    ArrowArray array;
    export_batch(std::move(batch), &array);
    ASSERT_EQ(array.length, kRows);
    std::vector<Column> columns;
    for (int64_t k = 0; k < 3; ++k) {
      EXPECT_EQ(array.children[k]->null_count, kRows / 3);
      auto read = Column::read(*schema.children[k], *array.children[k]);
      ASSERT_TRUE(read) << read.error();
      columns.push_back(std::move(*read));
    }
    for (int i = 0; i < kRows; ++i) {
      std::string line;
      for (const Column& column : columns) {
        const Cell cell = column.cell(i);
        if (&column != &columns.front()) line += "|";
        line += cell.kind == Cell::Kind::Null     ? std::string("-")
                : cell.kind == Cell::Kind::String ? std::string(cell.text)
                                                  : std::to_string(cell.integer);
      }
      ASSERT_EQ(line, expected(i)) << "row " << i;
    }
    array.release(&array);
    schema.release(&schema);
  }
}

TEST(BatchExport, StreamCarriesTheBatchesAndTheirType) {
  const Orvane engine = test_engine();
  ArrowTable table(generated_rows());
  auto rows = TableRows::bind(table.schema, table.array, {});
  ASSERT_TRUE(rows);
  Answers answers = assign(engine, "cfg", {&*rows}, {nullopt, 1, 32});
  ArrowArrayStream stream;
  export_stream(std::move(answers.shape), std::move(answers.batches), &stream);
  ArrowSchema schema;
  ASSERT_EQ(stream.get_schema(&stream, &schema), 0);
  std::string type = schema.format;
  for (int64_t i = 0; i < schema.n_children; ++i) {
    type += std::string(" ") + schema.children[i]->name + ":" + schema.children[i]->format;
  }
  EXPECT_EQ(type, "+s variant:u value:u decided_by:u bucket:s error:u");
  std::vector<int64_t> lengths;
  for (;;) {
    ArrowArray batch;
    ASSERT_EQ(stream.get_next(&stream, &batch), 0);
    if (batch.release == nullptr) break;
    lengths.push_back(batch.length);
    // Read back through the reader the tables come in by.
    auto read = Column::read(*schema.children[1], *batch.children[1]);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->cell(0).text, R"({"a":"x","b":[1,2.5]})");
    batch.release(&batch);
  }
  EXPECT_EQ(lengths, (std::vector<int64_t>{32, 28}));
  schema.release(&schema);
  stream.release(&stream);
}

}  // namespace
}  // namespace orvane
