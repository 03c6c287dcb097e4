#include "events/uuid.h"

#include <gtest/gtest.h>
#include <sys/random.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "events/random_source.h"
#include "events/serialized_events.h"

namespace orvane {
namespace {

TEST(ParseUuid, AcceptedAndRejectedForms) {
  const char* kCanonical = "6ba7b810-9dad-11d1-80b4-00c04fd430c8";
  struct Case { const char* name; const char* text; bool valid; };
  const Case kCases[] = {
      {"hyphenated", "6ba7b810-9dad-11d1-80b4-00c04fd430c8", true},
      {"hyphenated upper", "6BA7B810-9DAD-11D1-80B4-00C04FD430C8", true},
      {"mixed case", "6Ba7B810-9dAd-11d1-80b4-00C04fd430c8", true},
      {"32 digits", "6ba7b8109dad11d180b400c04fd430c8", true},
      {"braced", "{6ba7b810-9dad-11d1-80b4-00c04fd430c8}", true},
      {"urn", "urn:uuid:6ba7b810-9dad-11d1-80b4-00c04fd430c8", true},
      {"empty", "", false},
      {"abc", "abc", false},
      {"31 digits", "6ba7b8109dad11d180b400c04fd430c", false},
      {"33 digits", "6ba7b8109dad11d180b400c04fd430c8a", false},
      {"non-hex digit", "6ba7b810-9dad-11d1-80b4-00c04fd430cg", false},
      {"hyphen moved", "6ba7b81-09dad-11d1-80b4-00c04fd430c8", false},
      {"hyphens in 32-char form", "6ba7b810-9dad11d180b400c04fd430c", false},
      {"36 chars, no hyphens", "6ba7b8109dad11d180b400c04fd430c8abcd", false},
      {"braces unbalanced", "{6ba7b810-9dad-11d1-80b4-00c04fd430c8)", false},
      {"braced 32 digits", "{6ba7b8109dad11d180b400c04fd430c8}", false},
      {"urn upper prefix", "URN:UUID:6ba7b810-9dad-11d1-80b4-00c04fd430c8", false},
      {"urn 32 digits", "urn:uuid:6ba7b8109dad11d180b400c04fd430c8", false},
      {"surrounding blank", " 6ba7b810-9dad-11d1-80b4-00c04fd430c8", false},
      {"sign in digits", "+ba7b810-9dad-11d1-80b4-00c04fd430c8", false},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    std::optional<Uuid> uuid = parse_uuid(c.text);
    ASSERT_EQ(uuid.has_value(), c.valid);
    if (c.valid) {
      EXPECT_EQ(uuid_text(*uuid), kCanonical);
    }
  }
}

TEST(Uuid, TextIsLowerCaseHyphenated) {
  Uuid uuid = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77,
               0x88, 0x99, 0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0xff};
  EXPECT_EQ(uuid_text(uuid), "00112233-4455-6677-8899-aabbccddeeff");
}

// A source that wrongly fails shows as "none", which no check below accepts.
std::string next_text() {
  std::optional<Uuid> uuid = try_random_uuid_v4();
  return uuid ? uuid_text(*uuid) : "none";
}

// Each call's UUIDs as texts.
std::vector<std::string> draw(size_t n) {
  std::vector<std::string> out;
  for (size_t i = 0; i < n; ++i) out.push_back(next_text());
  return out;
}

TEST(RandomUuid, VersionFourDistinctAcrossThreads) {
  constexpr size_t kThreads = 4, kEach = 300;  // more than one buffer's worth each
  std::vector<std::vector<std::string>> drawn(kThreads);
  std::vector<std::thread> threads;
  for (size_t t = 0; t < kThreads; ++t) threads.emplace_back([&, t] { drawn[t] = draw(kEach); });
  for (std::thread& thread : threads) thread.join();
  std::set<std::string> all;
  for (const auto& texts : drawn) {
    for (const std::string& text : texts) {
      EXPECT_EQ(text[14], '4') << text;
      EXPECT_NE(std::string("89ab").find(text[19]), std::string::npos) << text;
      all.insert(text);
    }
  }
  EXPECT_EQ(all.size(), kThreads * kEach);
}

// Forks a child that writes its next `n` UUIDs to a pipe; returns them once it exits.
struct Child {
  pid_t pid;
  int fd;
};
Child fork_drawer(size_t n) {
  int fds[2];
  if (pipe(fds) != 0) return {-1, -1};
  pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    std::string all;
    for (const std::string& text : draw(n)) all += text;
    bool ok = write(fds[1], all.data(), all.size()) == static_cast<ssize_t>(all.size());
    _exit(ok ? 0 : 1);
  }
  close(fds[1]);
  return {pid, fds[0]};
}
std::vector<std::string> collect(Child child) {
  std::string all;
  char chunk[256];
  for (ssize_t got; (got = read(child.fd, chunk, sizeof chunk)) > 0;) all.append(chunk, got);
  close(child.fd);
  int status = 0;
  waitpid(child.pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  std::vector<std::string> out;
  for (size_t pos = 0; pos + 36 <= all.size(); pos += 36) out.push_back(all.substr(pos, 36));
  return out;
}

TEST(RandomUuid, ForkedChildrenNeverRepeatParentOrSibling) {
  constexpr size_t kNext = 8;  // well inside one buffer, where a copied buffer would repeat
  draw(3);
  Child first = fork_drawer(kNext);
  Child second = fork_drawer(kNext);
  ASSERT_GT(first.pid, 0);
  ASSERT_GT(second.pid, 0);
  std::vector<std::string> parent = draw(kNext);
  std::vector<std::string> a = collect(first), b = collect(second);
  ASSERT_EQ(a.size(), kNext);
  ASSERT_EQ(b.size(), kNext);
  std::set<std::string> all(parent.begin(), parent.end());
  all.insert(a.begin(), a.end());
  all.insert(b.begin(), b.end());
  EXPECT_EQ(all.size(), 3 * kNext);
}

// Replaces the OS entry points for one test and puts the real ones back afterwards.
class RandomSource : public testing::Test {
 protected:
  void TearDown() override {
    set_getrandom_for_testing(nullptr);
    set_urandom_path_for_testing(nullptr);
  }
};

int g_calls = 0;
uint8_t g_next_byte = 0;

// Counting bytes, at most 7 per call, after two interruptions.
ssize_t interrupted_then_short(void* buffer, size_t length, unsigned int) {
  if (g_calls++ < 2) {
    errno = EINTR;
    return -1;
  }
  size_t n = length < 7 ? length : 7;
  for (size_t i = 0; i < n; ++i) static_cast<uint8_t*>(buffer)[i] = g_next_byte++;
  return static_cast<ssize_t>(n);
}
ssize_t not_implemented(void*, size_t, unsigned int) {
  errno = ENOSYS;
  return -1;
}


TEST_F(RandomSource, RetriesInterruptsAndShortReads) {
  g_calls = 0;
  g_next_byte = 0;
  set_getrandom_for_testing(&interrupted_then_short);
  EXPECT_EQ(next_text(), "00010203-0405-4607-8809-0a0b0c0d0e0f");
  EXPECT_EQ(next_text(), "10111213-1415-4617-9819-1a1b1c1d1e1f");
  EXPECT_EQ(g_calls, 2 + static_cast<int>((kRandomBufferSize + 6) / 7));
}

TEST_F(RandomSource, FallsBackToUrandomThenReportsFailure) {
  std::string path = testing::TempDir() + "orvane_events_urandom";
  auto write_file = [&](size_t size) {
    FILE* file = fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    for (size_t i = 0; i < size; ++i) fputc(static_cast<int>(0xf0 ^ (i & 0xff)), file);
    fclose(file);
  };
  write_file(kRandomBufferSize);
  set_getrandom_for_testing(&not_implemented);
  set_urandom_path_for_testing(path.c_str());
  EXPECT_EQ(next_text(), "f0f1f2f3-f4f5-46f7-b8f9-fafbfcfdfeff");

  // A short file ends before a buffer is full, so it is no random device.
  write_file(kRandomBufferSize - 1);
  set_urandom_path_for_testing(path.c_str());
  EXPECT_EQ(next_text(), "none");

  set_urandom_path_for_testing("/nonexistent/urandom");
  EXPECT_EQ(next_text(), "none");
  // A batch without events needs no randomness; one event does.
  EXPECT_TRUE(serialize_events(Context{}, {}).has_value());
  std::vector<ExperimentEvent> one{ExperimentEvent{.feature_name = "f",
                                                   .variant_name = "v",
                                                   .bucket_field = "user_id",
                                                   .identifier = "u",
                                                   .start_ts = 0,
                                                   .stop_ts = 0,
                                                   .owner = "o",
                                                   .feature_id = 1,
                                                   .feature_version = 1,
                                                   .kind = EventKind::FracAvail}};
  Result<SerializedEvents, EventError> result = serialize_events(Context{}, std::move(one));
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error().message, "operating system random source unavailable");
  std::remove(path.c_str());
}

}  // namespace
}  // namespace orvane
