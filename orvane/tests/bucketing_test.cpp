#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "engine/internal.h"

namespace orvane {
namespace {

struct SeedBucket {
  std::string seed;
  int bucket;
};

// buckets.tsv was written by testdata/make_buckets.py with Python's hashlib, so the
// expected buckets do not come from the code under test.
std::vector<SeedBucket> read_bucket_table() {
  std::ifstream in(ORVANE_TESTDATA_DIR "/buckets.tsv", std::ios::binary);
  std::vector<SeedBucket> rows;
  std::string line;
  while (std::getline(in, line)) {
    size_t tab = line.rfind('\t');
    if (tab == std::string::npos) {
      ADD_FAILURE() << "line without a tab: " << line;
      continue;
    }
    std::string seed;
    for (size_t i = 0; i < tab; ++i) {
      if (line[i] == '\\' && i + 1 < tab) {
        ++i;
        seed += line[i] == '0' ? '\0' : line[i];
      } else {
        seed += line[i];
      }
    }
    rows.push_back({std::move(seed), std::stoi(line.substr(tab + 1))});
  }
  return rows;
}

TEST(BucketOf, WorkedExample) {
  // SHA-1 a6bde8676443bb174d4fc8f2c1986187e866ace7, which is 559 modulo 1000.
  EXPECT_EQ(bucket_of("42.my_feature.3u1234"), 559);
}

TEST(BucketOf, MatchesIndependentReference) {
  std::vector<SeedBucket> rows = read_bucket_table();
  // Guards against a missing or truncated data file passing vacuously.
  ASSERT_GE(rows.size(), 290u);
  bool saw_nul = false;
  bool saw_multi_block = false;
  for (const SeedBucket& row : rows) {
    SCOPED_TRACE(row.seed.size() > 80 ? row.seed.substr(0, 80) + "..." : row.seed);
    saw_nul = saw_nul || row.seed.find('\0') != std::string::npos;
    saw_multi_block = saw_multi_block || row.seed.size() > 10000;
    EXPECT_EQ(bucket_of(row.seed), row.bucket);
  }
  EXPECT_TRUE(saw_nul) << "the table should hold a seed with an embedded NUL byte";
  EXPECT_TRUE(saw_multi_block) << "the table should hold seeds spanning many blocks";
}

TEST(BucketOf, HashesTheViewNotAStringPrefix) {
  // Only the viewed bytes count: a view into a longer buffer hashes like the short text.
  const std::string_view full = "42.my_feature.3u1234-and-more";
  EXPECT_EQ(bucket_of(full.substr(0, 20)), 559);
  EXPECT_NE(bucket_of(full), 559);
}

}  // namespace
}  // namespace orvane
