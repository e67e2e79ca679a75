#include "client/SessionKeyCache.h"

#include <gtest/gtest.h>

#include <string>

namespace paxelle {
namespace {

CSessionKeyCache::SessionKey KeyOf(unsigned char fill) {
  CSessionKeyCache::SessionKey key;
  key.fill(fill);
  return key;
}

// Past its capacity the cache drops the key used longest ago, never more.
TEST(SessionKeyCache, KeepsTheMostRecentlyUsedKeysWithinItsCapacity) {
  CSessionKeyCache cache(2);
  CSessionKeyCache::SessionKey key = KeyOf(0xEE);
  EXPECT_FALSE(cache.Find("A", key));
  EXPECT_EQ(key, KeyOf(0xEE));

  cache.Add("A", KeyOf(1));
  cache.Add("B", KeyOf(2));
  ASSERT_TRUE(cache.Find("A", key));  // A is now the more recent
  EXPECT_EQ(key, KeyOf(1));
  cache.Add("C", KeyOf(3));  // B goes
  EXPECT_EQ(cache.Size(), 2u);
  EXPECT_FALSE(cache.Find("B", key));
  const struct {
    const char* blob;
    unsigned char fill;
  } kept[] = {{"A", 1}, {"C", 3}};
  for (const auto& k : kept) {
    ASSERT_TRUE(cache.Find(k.blob, key)) << k.blob;
    EXPECT_EQ(key, KeyOf(k.fill)) << k.blob;
  }

  cache.Add("C", KeyOf(4));  // the same blob again replaces, never duplicates
  EXPECT_EQ(cache.Size(), 2u);
  ASSERT_TRUE(cache.Find("C", key));
  EXPECT_EQ(key, KeyOf(4));
  EXPECT_FALSE(cache.Find("c", key));  // the text must match exactly

  CSessionKeyCache none(0);
  none.Add("A", KeyOf(1));
  EXPECT_FALSE(none.Find("A", key));
}

}  // namespace
}  // namespace paxelle
