// Chained hash map used by the renderer caches (mesh buffers, glyph textures,
// image textures).
//
// Keys are hashed as little-endian 16-bit words with Fletcher-style sums,
// scaled by a prime multiplier and masked to a power-of-two bucket count.
// Entries are allocated one by one and appended to the end of their chain,
// so equal keys keep their insertion order and find() returns the first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <type_traits>

// Fletcher-style hash of n 16-bit words.
inline uint32_t VIEW_iHashWords(const uint16_t* words, size_t n)
{
    uint32_t s1 = 65535, s2 = 65535;
    while (n > 0) {
        size_t block = n > 360 ? 360 : n;
        n -= block;
        while (block-- > 0) {
            s1 += *words++;
            s2 += s1;
        }
        s1 = (s1 & 0xFFFF) + (s1 >> 16);
        s2 = (s2 & 0xFFFF) + (s2 >> 16);
    }
    return (((s2 >> 16) + s2) << 16) | ((s1 >> 16) + (s1 & 0xFFFF));
}

// Hash of an arbitrary byte block (its size rounded down to whole words).
inline uint32_t VIEW_iHashBytes(const void* bytes, size_t size)
{
    uint16_t words[64];
    size_t n = size / 2;
    if (n > 64) n = 64;
    const unsigned char* b = static_cast<const unsigned char*>(bytes);
    for (size_t i = 0; i < n; i++)
        words[i] = static_cast<uint16_t>(b[2 * i] | (b[2 * i + 1] << 8));
    return VIEW_iHashWords(words, n);
}

// Multiplier for a bucket count: the first prime of the table not below it.
inline uint32_t VIEW_iHashMultiplier(int32_t bucketCount)
{
    static const uint32_t primes[] = {
        53, 97, 193, 389, 769, 1543, 3079, 6151, 12289, 24593, 49157, 98317, 196613,
        393241, 786433, 1572869, 3145739, 6291469, 12582917, 25165843, 50331653,
        100663319, 201326611, 402653189, 805306457, 1610612741, 0};
    if (bucketCount < 54) return 53;
    uint32_t last = 53;
    for (const uint32_t* p = primes; *p; p++) {
        if (*p >= static_cast<uint32_t>(bucketCount)) return *p;
        last = *p;
    }
    return last;
}

// Default key behaviour: the key's bytes are hashed and compared as they are.
template <typename K>
struct VIEW_HashKeyTraits {
    static uint32_t hash(const K& key) { return VIEW_iHashBytes(&key, sizeof(K)); }
    static bool equal(const K& a, const K& b) { return std::memcmp(&a, &b, sizeof(K)) == 0; }
};

template <typename K, typename V, typename Traits = VIEW_HashKeyTraits<K>>
struct VIEW_HashMap {
    static_assert(std::is_trivially_copyable_v<K>, "hash keys are plain data");

    struct Entry {
        K key;
        V value;
        Entry* next;
    };

    Entry** buckets = nullptr;
    int32_t count = 0;
    int32_t usedBuckets = 0;
    int32_t bucketCount = 0;
    int32_t initialBucketCount = 32;
    uint32_t multiplier = 1;

    VIEW_HashMap() = default;
    VIEW_HashMap(const VIEW_HashMap&) = delete;
    VIEW_HashMap& operator=(const VIEW_HashMap&) = delete;
    ~VIEW_HashMap() { free(); }

    uint32_t bucketOf(const K& key) const
    {
        return (Traits::hash(key) * multiplier) & static_cast<uint32_t>(bucketCount - 1);
    }

    // First entry of the chain that holds key (the chain may hold other keys).
    Entry* chainOf(const K& key) const
    {
        if (!buckets) return nullptr;
        return buckets[bucketOf(key)];
    }

    V* find(const K& key) const
    {
        for (Entry* e = chainOf(key); e; e = e->next)
            if (Traits::equal(e->key, key)) return &e->value;
        return nullptr;
    }

    // Appends a new entry for key and returns its value slot (value-initialised).
    // Null only when memory runs out.
    V* insert(const K& key)
    {
        if (!buckets) {
            int32_t n = initialBucketCount > 0 ? initialBucketCount : 32;
            buckets = static_cast<Entry**>(std::calloc(static_cast<size_t>(n), sizeof(Entry*)));
            if (!buckets) return nullptr;
            bucketCount = n;
            multiplier = VIEW_iHashMultiplier(n);
        } else if (4LL * usedBuckets > 3LL * bucketCount && bucketCount <= (1 << 29)) {
            grow();
        }
        Entry* e = new (std::nothrow) Entry{key, V{}, nullptr};
        if (!e) return nullptr;
        link(e);
        return &e->value;
    }

    // Unlinks and frees the first entry for key; false when there is none.
    bool remove(const K& key)
    {
        if (!buckets) return false;
        uint32_t b = bucketOf(key);
        for (Entry** pe = &buckets[b]; *pe; pe = &(*pe)->next) {
            if (Traits::equal((*pe)->key, key)) {
                Entry* e = *pe;
                *pe = e->next;
                delete e;
                count--;
                if (!buckets[b]) usedBuckets--;
                return true;
            }
        }
        return false;
    }

    // Unlinks and frees every entry for which f(key, value) is true;
    // answers how many went.
    template <typename F>
    int32_t removeIf(F&& f)
    {
        int32_t removed = 0;
        for (int32_t b = 0; b < bucketCount; b++) {
            const bool used = buckets[b] != nullptr;
            for (Entry** pe = &buckets[b]; *pe;) {
                Entry* e = *pe;
                if (f(e->key, e->value)) {
                    *pe = e->next;
                    delete e;
                    count--;
                    removed++;
                } else {
                    pe = &e->next;
                }
            }
            if (used && !buckets[b]) usedBuckets--;
        }
        return removed;
    }

    // Calls f(key, value) for every entry, bucket by bucket, in chain order.
    template <typename F>
    void forEach(F&& f) const
    {
        for (int32_t b = 0; b < bucketCount; b++)
            for (Entry* e = buckets[b]; e; e = e->next) f(e->key, e->value);
    }

    void free()
    {
        for (int32_t b = 0; b < bucketCount; b++) {
            Entry* e = buckets[b];
            while (e) {
                Entry* next = e->next;
                delete e;
                e = next;
            }
        }
        std::free(buckets);
        buckets = nullptr;
        count = usedBuckets = bucketCount = 0;
        multiplier = 1;
    }

private:
    void link(Entry* e)
    {
        e->next = nullptr;
        Entry** pe = &buckets[bucketOf(e->key)];
        if (!*pe) usedBuckets++;
        while (*pe) pe = &(*pe)->next;
        *pe = e;
        count++;
    }

    // Doubles the bucket count and moves every entry over, bucket by bucket
    // and in chain order. Entries are relinked, so value addresses stay valid.
    void grow()
    {
        int32_t n = bucketCount * 2;
        Entry** fresh = static_cast<Entry**>(std::calloc(static_cast<size_t>(n), sizeof(Entry*)));
        if (!fresh) return;  // keep the current table; chains just get longer
        Entry** old = buckets;
        int32_t oldCount = bucketCount;
        buckets = fresh;
        bucketCount = n;
        multiplier = VIEW_iHashMultiplier(n);
        count = usedBuckets = 0;
        for (int32_t b = 0; b < oldCount; b++) {
            Entry* e = old[b];
            while (e) {
                Entry* next = e->next;
                link(e);
                e = next;
            }
        }
        std::free(old);
    }
};
