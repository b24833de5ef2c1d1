#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "database/file_cache.h"

namespace quarrow {
namespace {

struct Counted {
  static inline std::atomic<int> alive{0};
  Counted() { ++alive; }
  ~Counted() { --alive; }
  int value = 0;
};

constexpr CacheKind<Counted> kFirst;
constexpr CacheKind<Counted> kSecond;

// Kinds keep their values apart even under one id; the cache frees what it made.
TEST(FileCache, KindsAndIdsNameTheirOwnValuesUntilTheCacheGoes) {
  {
    FileCache cache;
    cached(cache, kFirst, 7).value = 1;
    cached(cache, kSecond, 7).value = 2;
    cached(cache, kFirst, 8).value = 3;
    EXPECT_EQ(cached(cache, kFirst, 7).value, 1);
    EXPECT_EQ(cached(cache, kSecond, 7).value, 2);
    EXPECT_EQ(cached(cache, kFirst, 8).value, 3);
    EXPECT_EQ(Counted::alive, 3);
  }
  EXPECT_EQ(Counted::alive, 0);
}

TEST(FileCache, ThreadsAskingAtOnceShareOneValue) {
  FileCache cache;
  std::vector<Counted*> seen(8);
  std::vector<std::thread> threads;
  for (std::size_t t = 0; t < seen.size(); ++t) {
    threads.emplace_back([&, t] { seen[t] = &cached(cache, kFirst, 1); });
  }
  for (std::thread& t : threads) t.join();
  for (Counted* p : seen) EXPECT_EQ(p, seen[0]);
  EXPECT_EQ(Counted::alive, 1);
}

}  // namespace
}  // namespace quarrow
