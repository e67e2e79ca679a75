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

// Past its capacity the cache drops the key added longest ago, never more;
// using a key does not keep it longer.
TEST(SessionKeyCache, DropsTheOldestKeyPastItsCapacity) {
  CSessionKeyCache cache(2);
  CSessionKeyCache::SessionKey key = KeyOf(0xEE);
  EXPECT_FALSE(cache.Find("A", key));
  EXPECT_EQ(key, KeyOf(0xEE));

  cache.Add("A", KeyOf(1));
  cache.Add("B", KeyOf(2));
  ASSERT_TRUE(cache.Find("A", key));
  EXPECT_EQ(key, KeyOf(1));
  cache.Add("B", KeyOf(3));  // the same blob again replaces, never duplicates
  cache.Add("C", KeyOf(4));  // A goes
  EXPECT_EQ(cache.Size(), 2u);
  EXPECT_FALSE(cache.Find("A", key));
  const struct {
    const char* blob;
    unsigned char fill;
  } kept[] = {{"B", 3}, {"C", 4}};
  for (const auto& k : kept) {
    ASSERT_TRUE(cache.Find(k.blob, key)) << k.blob;
    EXPECT_EQ(key, KeyOf(k.fill)) << k.blob;
  }
  EXPECT_FALSE(cache.Find("c", key));  // the text must match exactly

  CSessionKeyCache none(0);
  none.Add("A", KeyOf(1));
  EXPECT_FALSE(none.Find("A", key));
}

}  // namespace
}  // namespace paxelle
