// The reader over a corpus of mutated documents: the example, the documentation's
// configurations and the fuzz seeds, cut short, with bytes flipped, inserted and deleted,
// bad escapes and UTF-8, deep nesting, huge numbers, wrong types and repeated members.
// Each document has the outcome it must keep: the message with its position, or the
// records read.

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "config/config_reader.h"
#include "config_records_text.h"

namespace orvane {
namespace {

std::string outcome(std::string_view document) {
  Result<ExperimentConfig, JsonError> read = read_experiment_config(document);
  if (!read) return "ERR " + read.error().display();
  return "OK\n" + records_text(*read);
}

TEST(ConfigReaderCorpus, EveryDocumentKeepsItsOutcome) {
  const std::string dir = ORVANE_TESTDATA_DIR "/reader_corpus/";
  std::ifstream expected(dir + "expected.tsv");
  ASSERT_TRUE(expected) << "missing " << dir << "expected.tsv";
  size_t documents = 0;
  size_t loaded = 0;
  std::string line;
  while (std::getline(expected, line)) {
    size_t tab = line.find('\t');
    ASSERT_NE(tab, std::string::npos) << line;
    std::string name = line.substr(0, tab);
    std::ifstream file(dir + name, std::ios::binary);
    ASSERT_TRUE(file) << name;
    std::stringstream bytes;
    bytes << file.rdbuf();
    // Outcomes are stored as JSON string literals, one per line.
    std::string got = outcome(bytes.str());
    EXPECT_EQ(Json(got).dump(), line.substr(tab + 1)) << name << "\n" << got;
    ++documents;
    if (got.starts_with("OK")) ++loaded;
  }
  // The corpus holds failures of every kind and documents that load.
  EXPECT_GE(documents, 200u);
  EXPECT_GE(loaded, 20u);
}

}  // namespace
}  // namespace orvane
