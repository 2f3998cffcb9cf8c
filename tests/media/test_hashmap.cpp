#include <gtest/gtest.h>

#include "render/VIEW_HashMap.h"

TEST(HashMap, GrowsAfterThreeQuartersOfTheBucketsAreUsed)
{
    VIEW_HashMap<uint32_t, int> map;
    EXPECT_EQ(map.bucketCount, 0);
    EXPECT_EQ(map.multiplier, 1u);
    uint32_t key = 0;
    *map.insert(key++) = 0;
    EXPECT_EQ(map.bucketCount, 32);
    EXPECT_EQ(map.multiplier, 53u);
    // Keep inserting until 25 buckets are in use; the next insert doubles.
    while (map.usedBuckets < 25) {
        int32_t before = map.count;
        *map.insert(key) = int(key);
        key++;
        ASSERT_EQ(map.count, before + 1);
        ASSERT_EQ(map.bucketCount, 32);
    }
    int32_t entries = map.count;
    *map.insert(key) = int(key);
    key++;
    EXPECT_EQ(map.bucketCount, 64);
    EXPECT_EQ(map.multiplier, 97u);
    EXPECT_EQ(map.count, entries + 1);
    for (uint32_t k = 0; k < key; k++) {
        int* v = map.find(k);
        ASSERT_NE(v, nullptr) << k;
        EXPECT_EQ(*v, int(k));
    }
}

TEST(HashMap, DuplicateKeysKeepOrderAndRemoveKeepsCounts)
{
    VIEW_HashMap<uint64_t, int> map;
    *map.insert(7) = 1;
    *map.insert(7) = 2;
    EXPECT_EQ(map.count, 2);
    EXPECT_EQ(*map.find(7), 1);
    EXPECT_TRUE(map.remove(7));
    EXPECT_EQ(*map.find(7), 2);
    EXPECT_EQ(map.usedBuckets, 1);
    EXPECT_TRUE(map.remove(7));
    EXPECT_EQ(map.find(7), nullptr);
    EXPECT_EQ(map.usedBuckets, 0);
    EXPECT_EQ(map.count, 0);
    EXPECT_FALSE(map.remove(7));
}

TEST(HashMap, FreeResetsUsedAndUnusedMaps)
{
    VIEW_HashMap<uint32_t, int> unused;
    unused.free();
    EXPECT_EQ(unused.bucketCount, 0);
    EXPECT_EQ(unused.initialBucketCount, 32);

    VIEW_HashMap<uint32_t, int> map;
    for (uint32_t k = 0; k < 1000; k++) *map.insert(k) = 1;
    map.free();
    EXPECT_EQ(map.count, 0);
    EXPECT_EQ(map.usedBuckets, 0);
    EXPECT_EQ(map.bucketCount, 0);
    EXPECT_EQ(map.multiplier, 1u);
    EXPECT_EQ(map.initialBucketCount, 32);
    EXPECT_EQ(map.find(3), nullptr);
}

TEST(HashMap, MultiplierTable)
{
    EXPECT_EQ(VIEW_iHashMultiplier(32), 53u);
    EXPECT_EQ(VIEW_iHashMultiplier(64), 97u);
    EXPECT_EQ(VIEW_iHashMultiplier(128), 193u);
    EXPECT_EQ(VIEW_iHashMultiplier(1 << 30), 1610612741u);
}

// Words are summed Fletcher-style: for one word w, s1 = 65535 + w and
// s2 = 2 x 65535 + w before folding.
TEST(HashMap, HashOfKnownWords)
{
    uint16_t one = 1;
    uint32_t s1 = 65536, s2 = 131071;
    s1 = (s1 & 0xFFFF) + (s1 >> 16);
    s2 = (s2 & 0xFFFF) + (s2 >> 16);
    uint32_t want = (((s2 >> 16) + s2) << 16) | ((s1 >> 16) + (s1 & 0xFFFF));
    EXPECT_EQ(VIEW_iHashWords(&one, 1), want);
}
