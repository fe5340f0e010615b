// Large objects in mappings of their own: exact sizes on both sides of the threshold, and
// exclusive objects grown across it and inside it with their contents intact.
#include <cstring>
#include <string>

#include "object/header.h"
#include "object/heap.h"
#include "quarn/quarn.h"
#include "quarn/string.h"
#include "testing.h"

namespace {

namespace detail = quarn::object::detail;
using quarn::object::allocate_object;
using quarn::object::object_size;
using quarn::object::reallocate_object;

using MappedBlocksTest = kit::LiveObjectsTest;

bool page_aligned_block(const quarn_object *o) {
    return (reinterpret_cast<uintptr_t>(o) - sizeof(size_t)) % 4096 == 0;
}

TEST_F(MappedBlocksTest, ObjectsAroundTheThresholdKeepTheirExactSizeAndAreWritable) {
    constexpr size_t kThreshold = detail::kSmallestMappedBlock - sizeof(size_t);
    for (size_t size : {kThreshold - 1, kThreshold, kThreshold + 1, 3 * kThreshold + 5}) {
        quarn_object *o = allocate_object(size, QUARN_TAG_SCALAR_ARRAY);
        EXPECT_EQ(object_size(o), size);
        if (QUARN_MAPPED_BLOCKS && size >= kThreshold)
            EXPECT_TRUE(page_aligned_block(o)) << "a mapping of its own, size " << size;
        std::memset(reinterpret_cast<char *>(o) + 8, 0x5A, size - 8);
        EXPECT_EQ(reinterpret_cast<unsigned char *>(o)[size - 1], 0x5A);
        quarn::object::deallocate(o);
    }
}

// A block filled with a pattern that tells each byte's position.
void fill(quarn_object *o, size_t from, size_t to) {
    auto *bytes = reinterpret_cast<unsigned char *>(o);
    for (size_t i = from; i < to; ++i) bytes[i] = static_cast<unsigned char>(i * 7 + i / 4096);
}

size_t first_wrong(const quarn_object *o, size_t from, size_t to) {
    const auto *bytes = reinterpret_cast<const unsigned char *>(o);
    for (size_t i = from; i < to; ++i)
        if (bytes[i] != static_cast<unsigned char>(i * 7 + i / 4096)) return i;
    return to;
}

TEST_F(MappedBlocksTest, GrowingKeepsTheKeptBytesInsideAndAcrossTheThreshold) {
    constexpr size_t kThreshold = detail::kSmallestMappedBlock - sizeof(size_t);
    // Heap to heap, heap to mapping, mapping to a larger mapping (moved by the kernel).
    size_t sizes[] = {1000, kThreshold / 2, kThreshold + 100, 3 * kThreshold};
    quarn_object *o = allocate_object(sizes[0], QUARN_TAG_SCALAR_ARRAY);
    fill(o, 8, sizes[0]);
    size_t kept = sizes[0];
    for (size_t i = 1; i < std::size(sizes); ++i) {
        o = reallocate_object(o, sizes[i], kept);
        EXPECT_EQ(object_size(o), sizes[i]);
        EXPECT_EQ(o->tag, QUARN_TAG_SCALAR_ARRAY) << "the header is kept";
        EXPECT_EQ(first_wrong(o, 8, kept), kept) << "grown to " << sizes[i];
        fill(o, kept, sizes[i]);
        kept = sizes[i];
    }
    quarn::object::deallocate(o);
}

TEST_F(MappedBlocksTest, AStringPushedPastTheThresholdHoldsEveryCharacter) {
    constexpr size_t kChars = 3 * (detail::kSmallestMappedBlock + 12345);
    quarn_object *s = quarn_mk_string_unchecked("", 0, 0);
    for (size_t i = 0; i < kChars; ++i) s = quarn_lean_string_push(s, 'a' + i % 26);
    s = quarn_lean_string_push(s, 0x20AC);  // a three-byte character at the very end
    const auto *str = reinterpret_cast<const quarn_string_object *>(s);
    ASSERT_EQ(str->size, kChars + 3 + 1);
    EXPECT_EQ(str->length, kChars + 1);
    size_t wrong = kChars;
    for (size_t i = 0; i < kChars && wrong == kChars; ++i)
        if (str->data[i] != static_cast<char>('a' + i % 26)) wrong = i;
    EXPECT_EQ(wrong, kChars);
    EXPECT_EQ(std::string(str->data + kChars), "\xE2\x82\xAC");
    // A shared string is copied, not grown in place: the other reference keeps its text.
    quarn_inc(s);
    quarn_object *t = quarn_lean_string_push(s, 'z');
    EXPECT_NE(t, s);
    EXPECT_EQ(str->size, kChars + 3 + 1) << "the shared string is unchanged";
    quarn_dec(t);
    quarn_dec(s);
}

}  // namespace
