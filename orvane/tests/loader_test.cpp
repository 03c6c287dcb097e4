#include "engine/loader.h"

#include <gtest/gtest.h>
#include <sys/mman.h>

#include <cstdio>
#include <filesystem>

#include "temp_files.h"

namespace orvane {
namespace {

namespace fs = std::filesystem;

using LoaderTest = testing::TempFilesTest;

constexpr const char* kOneFeature = R"({"k": {"id": 1, "name": "f", "enabled": true,
  "version": "1", "owner": "o", "type": "dynamic_config", "value": 5,
  "experiment": {"experiment_version": 2}}})";

std::string error_text(const Result<Orvane, OrvaneInitError>& result) {
  return result ? std::string("<loaded>") : result.error().display();
}

TEST_F(LoaderTest, FailuresInTheOrderTheyAreChecked) {
  std::string good = write("good.json", kOneFeature);
  std::string bad = write("bad.json", "{\"k\": [}");
  std::string cycle = write("cycle.json", R"({"a": {"id": 1, "name": "a", "enabled": true,
    "version": "1", "owner": "o", "type": "range_variant", "parent_hg_name": "a",
    "experiment": {"experiment_version": 1}}})");
  std::string missing = (dir_ / "missing.json").string();
  struct Case {
    const char* name;
    std::string stages;
    std::string path;
    std::string error;
  };
  const Case kCases[] = {
      {"missing file", "value", missing,
       "Std io error: \"No such file or directory (os error 2)\""},
      {"missing file before a bad name", "nonsense", missing,
       "Std io error: \"No such file or directory (os error 2)\""},
      {"directory", "value", dir_.string(), "Json error: \"Is a directory (os error 21)\""},
      {"bad json before a bad name", "nonsense", bad,
       "Json error: \"expected value at line 1 column 8\""},
      {"cycle", "value", cycle, "Parent cycle: \"a\" -> \"a\""},
      {"unknown name", "value nonsense locale", good,
       "Invalid DecisionMaker: \"Invalid decisionmaker name: \\\"nonsense\\\"\""},
      {"letter case", "Darkmode", good,
       "Invalid DecisionMaker: \"Invalid decisionmaker name: \\\"Darkmode\\\"\""},
      {"hyphen", "fractional-availability", good,
       "Invalid DecisionMaker: \"Invalid decisionmaker name: "
       "\\\"fractional-availability\\\"\""},
      {"control character", "val\x01ue", good,
       "Invalid DecisionMaker: \"Invalid decisionmaker name: \\\"val\\\\u{1}ue\\\"\""},
      {"quote and backslash", "a\"b\\c", good,
       "Invalid DecisionMaker: \"Invalid decisionmaker name: \\\"a\\\\\\\"b\\\\\\\\c\\\"\""},
      {"nul in path", "value", good + std::string(1, '\0'),
       "Std io error: \"file name contained an unexpected NUL byte\""},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(error_text(init_orvane(c.stages, c.path)), c.error);
  }
}

TEST_F(LoaderTest, StageNamesSplitAtAnyUnicodeWhiteSpace) {
  std::string good = write("good.json", kOneFeature);
  struct Case {
    const char* name;
    const char* stages;
    std::vector<Stage> chain;
  };
  const std::vector<Stage> kTwo{Stage::Value, Stage::Locale};
  const Case kCases[] = {
      {"empty", "", {}},
      {"blanks only", " \t\n ", {}},
      {"tab and blanks", "  value\tlocale  ", kTwo},
      {"line breaks", "value\r\n\n\x0b\x0clocale", kTwo},
      {"next line", "value\xc2\x85locale", kTwo},
      {"no-break space", "value\xc2\xa0locale", kTwo},
      {"ogham space", "value\xe1\x9a\x80locale", kTwo},
      {"en quad to hair space", "value\xe2\x80\x80\xe2\x80\x8alocale", kTwo},
      {"line and paragraph separators", "value\xe2\x80\xa8\xe2\x80\xa9locale", kTwo},
      {"narrow and math spaces", "value\xe2\x80\xaf\xe2\x81\x9flocale", kTwo},
      {"ideographic space", "value\xe3\x80\x80locale", kTwo},
      {"repeated", "value value", {Stage::Value, Stage::Value}},
      {"all eight",
       "darkmode locale targeting overrides holdout mutex_group fractional_availability value",
       {Stage::Darkmode, Stage::Locale, Stage::Targeting, Stage::Overrides, Stage::Holdout,
        Stage::MutexGroup, Stage::FractionalAvailability, Stage::Value}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    Result<Orvane, OrvaneInitError> engine = init_orvane(c.stages, good);
    ASSERT_TRUE(engine.has_value()) << engine.error().display();
    EXPECT_EQ(engine->chain(), c.chain);
    ASSERT_EQ(engine->features().size(), 1u);
  }
  // A zero-width space is not white space: it stays part of the name.
  EXPECT_FALSE(init_orvane("value\xe2\x80\x8blocale", good).has_value());
}

// A text in memory loads as a regular file with its bytes: the same engine or the same
// error text, down to bytes a stream would stop at (NUL) and a byte order mark.
TEST_F(LoaderTest, TextInMemoryLoadsAsTheFileWithItsBytes) {
  struct Case {
    const char* name;
    std::string stages;
    std::string text;
  };
  const Case kCases[] = {
      {"one feature", "value", kOneFeature},
      {"empty input", "value", ""},
      {"blanks only", "value", " \n\t"},
      {"syntax error", "value", "{\"k\": [}"},
      {"nul inside", "value", std::string("{\"k\": \0 1}", 10)},
      {"nul after the document", "value", std::string("{}\0{", 4)},
      {"byte order mark", "value", "\xEF\xBB\xBF{}"},
      {"invalid UTF-8", "value", "{\"\xff\": 1}"},
      {"trailing characters", "value", "{} x"},
      {"missing member", "value", R"({"k": {"id": 1}})"},
      {"unknown stage after a good document", "nonsense", kOneFeature},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    Result<Orvane, OrvaneInitError> from_file = init_orvane(c.stages, write("doc.json", c.text));
    Result<Orvane, OrvaneInitError> from_text = init_orvane_text(c.stages, c.text);
    EXPECT_EQ(error_text(from_text), error_text(from_file));
    if (from_file && from_text) {
      EXPECT_EQ(from_text->features().size(), from_file->features().size());
    }
  }
  Result<Orvane, OrvaneInitError> one = init_orvane_text("value", kOneFeature);
  ASSERT_TRUE(one.has_value());
  Context ctx;
  Result<int64_t, OrvaneError> value = get_int(*one, "f", ctx);
  ASSERT_TRUE(value.has_value());
  EXPECT_EQ(*value, 5);
}

// A text over the limit fails from its size alone. Its bytes are mapped without read
// access, so looking at any of them would end the test with a fault.
TEST_F(LoaderTest, TextOverTheSizeLimitFailsBeforeAnyByteIsRead) {
  const size_t size = (size_t{1} << 30) + 1;
  void* block = ::mmap(nullptr, size, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE,
                       -1, 0);
  ASSERT_NE(block, MAP_FAILED);
  Result<Orvane, OrvaneInitError> loaded =
      init_orvane_text("value", std::string_view(static_cast<const char*>(block), size));
  ::munmap(block, size);
  EXPECT_EQ(error_text(loaded),
            "Json error: \"configuration is larger than the limit of 1073741824 bytes "
            "(the file holds 1073741825 bytes)\"");
}

TEST_F(LoaderTest, EmptyDocumentLoadsWithoutFeatures) {
  Result<Orvane, OrvaneInitError> engine = init_orvane("", write("empty.json", "{}"));
  ASSERT_TRUE(engine.has_value());
  EXPECT_TRUE(engine->features().empty());
  EXPECT_TRUE(engine->chain().empty());
}

TEST_F(LoaderTest, EngineOutlivesItsFile) {
  std::string path = write("gone.json", kOneFeature);
  Result<Orvane, OrvaneInitError> engine = init_orvane("value", path);
  ASSERT_TRUE(engine.has_value());
  // Rewrite, then remove the file: the engine read it once and keeps its own copy.
  write("gone.json", "{}");
  fs::remove(path);
  Context ctx;
  Result<int64_t, OrvaneError> value = get_int(*engine, "f", ctx);
  ASSERT_TRUE(value.has_value());
  EXPECT_EQ(*value, 5);
}

}  // namespace
}  // namespace orvane
