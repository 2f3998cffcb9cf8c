#include "base/CTRL_Array.h"
#include "math/MDL_Frame.h"
#include "media/VIEW_Texture.h"

#include <gtest/gtest.h>

TEST(Array, GrowthCapacities)
{
    struct Case {
        int32_t n;
        int32_t cap;
    } cases[] = {{1, 128}, {128, 128}, {129, 256}, {1000, 1024}, {1024, 1024}, {1025, 2048}};
    for (const Case& k : cases) {
        CTRL_Array<int> a;
        ASSERT_TRUE(a.resize(k.n));
        EXPECT_EQ(a.count, k.n);
        EXPECT_EQ(a.capacity, k.cap) << k.n;
    }
}

TEST(Array, ShrinkRule)
{
    struct Case {
        int32_t from;   // count that sets the starting capacity
        int32_t to;
        int32_t cap;    // capacity after resizing to `to`
    } cases[] = {
        {256, 128, 128},    // half of 256: halves
        {256, 129, 256},    // above half: keeps
        {128, 1, 128},      // never below 128
        {1024, 10, 512},    // halves once per call only
    };
    for (const Case& k : cases) {
        CTRL_Array<v3> a;
        ASSERT_TRUE(a.resize(k.from));
        ASSERT_TRUE(a.resize(k.to));
        EXPECT_EQ(a.capacity, k.cap) << k.from << " -> " << k.to;
        EXPECT_EQ(a.count, k.to);
    }
}

TEST(Array, ZeroFreesOnlyWhenOwning)
{
    CTRL_Array<int> a;
    a.append(1);
    ASSERT_TRUE(a.resize(0));
    EXPECT_EQ(a.data, nullptr);
    EXPECT_EQ(a.capacity, 0);

    int storage[200];
    CTRL_Array<int> b;
    b.owns = 0;
    b.data = storage;
    b.capacity = 200;
    b.count = 10;
    ASSERT_TRUE(b.resize(0));
    EXPECT_EQ(b.data, storage);
    EXPECT_EQ(b.capacity, 200);
    // A non-owning array never shrinks either.
    ASSERT_TRUE(b.resize(5));
    EXPECT_EQ(b.capacity, 200);
    EXPECT_EQ(b.data, storage);
}

TEST(Array, NonOwningGrowthCopiesIntoOwnStorage)
{
    int storage[4] = {1, 2, 3, 4};
    CTRL_Array<int> b;
    b.owns = 0;
    b.data = storage;
    b.capacity = 4;
    b.count = 4;
    ASSERT_TRUE(b.append(5));
    EXPECT_NE(b.data, storage);
    EXPECT_EQ(b.owns, 1);
    EXPECT_EQ(b.capacity, 128);
    for (int i = 0; i < 5; i++)
        EXPECT_EQ(b[i], i + 1);
    EXPECT_EQ(storage[3], 4);
}

TEST(Array, AppendRemoveKeepOrder)
{
    CTRL_Array<v2> a;
    for (int i = 0; i < 300; i++)
        ASSERT_TRUE(a.append(v2{double(i), -double(i)}));
    EXPECT_EQ(a.capacity, 512);
    // Appending an element of the array itself while it grows.
    CTRL_Array<int> c;
    ASSERT_TRUE(c.resize(128));
    c[0] = 42;
    ASSERT_TRUE(c.append(c[0]));
    EXPECT_EQ(c[128], 42);

    a.removeAt(0);
    a.removeAt(a.count - 1);
    a.removeAt(-1);
    a.removeAt(a.count);
    ASSERT_EQ(a.count, 298);
    for (int i = 0; i < a.count; i++)
        ASSERT_EQ(a[i].x, i + 1);
}

TEST(Array, RefusesCountsItCannotHold)
{
    CTRL_Array<int> a;
    a.append(7);
    EXPECT_FALSE(a.resize(-1));
    EXPECT_EQ(a.count, 1);

    // 128 elements of this size do not fit in a size_t: the byte count must
    // not wrap into a small allocation. The request fails, nothing changes.
    struct Huge {
        char bytes[size_t(1) << 58];
    };
    CTRL_Array<Huge> h;
    EXPECT_FALSE(h.resize(1));
    EXPECT_EQ(h.count, 0);
    EXPECT_EQ(h.capacity, 0);
    EXPECT_EQ(h.data, nullptr);
}

TEST(Array, DeleteAllRunsDestructors)
{
    struct Counted {
        explicit Counted(int* d) : deaths(d) {}
        virtual ~Counted() { ++*deaths; }
        int* deaths;
    };
    int deaths = 0;
    CTRL_Array<Counted*> a;
    for (int i = 0; i < 3; i++)
        a.append(new Counted(&deaths));
    a.deleteAll();
    EXPECT_EQ(deaths, 3);
    EXPECT_EQ(a.count, 0);
    EXPECT_EQ(a.data, nullptr);
}

TEST(Array, FreeImageListFreesRecordsAndStorage)
{
    CTRL_Array<VIEW_Texture*> list;
    for (int i = 0; i < 3; i++) {
        uint8_t* bytes = static_cast<uint8_t*>(std::malloc(16));
        std::memset(bytes, 0, 16);
        list.append(new VIEW_Texture("t", bytes, 16, 1));
    }
    // Not owned: the caller's bytes survive.
    static uint8_t shared[16];
    list.append(new VIEW_Texture("shared", shared, sizeof shared, 0));
    CTRL_iFreeImageList(&list);
    EXPECT_EQ(list.count, 0);
    EXPECT_EQ(list.capacity, 0);
    EXPECT_EQ(list.data, nullptr);
    CTRL_iFreeImageList(nullptr);
}

TEST(ByteBuffer, ExactResize)
{
    CTRL_Package p;
    ASSERT_TRUE(CTRL_iResizeByteBuffer(&p, 1000));
    EXPECT_EQ(p.size, 1000u);
    EXPECT_EQ(p.capacity, 1000u);
    p.data[999] = 9;
    ASSERT_TRUE(CTRL_iResizeByteBuffer(&p, 10));
    EXPECT_EQ(p.capacity, 10u);
    ASSERT_TRUE(CTRL_iResizeByteBuffer(&p, 0));
    EXPECT_EQ(p.data, nullptr);
    EXPECT_EQ(p.size, 0u);
    EXPECT_FALSE(CTRL_iResizeByteBuffer(nullptr, 5));
}
