// Buffers: filling, freeing, the empty record, and filling twice.
#include "quarn/host.h"
#include "testing.h"

namespace {

TEST(Buffer, AllocFreeAndZeroLength) {
    quarn_buffer b = QUARN_BUFFER_EMPTY;
    uint8_t *data = quarn_buffer_alloc(&b, 100);
    EXPECT_EQ(data, b.data);
    EXPECT_EQ(b.length, 100u);
    EXPECT_EQ(b.capacity, 100u);
    data[99] = 1;
    quarn_buffer_free(&b);
    EXPECT_EQ(b.data, nullptr);
    EXPECT_EQ(b.length, 0u);
    quarn_buffer_free(&b);  // an empty record is left alone
    EXPECT_NE(quarn_buffer_alloc(&b, 0), nullptr);
    EXPECT_EQ(b.length, 0u);
    EXPECT_EQ(b.capacity, 0u);
    quarn_buffer_free(&b);
    EXPECT_EQ(b.data, nullptr);
    quarn_string_free(nullptr);
}

TEST(BufferDeath, FilledTwice) {
    quarn_buffer b = QUARN_BUFFER_EMPTY;
    quarn_buffer_alloc(&b, 1);
    EXPECT_INTERNAL_PANIC(quarn_buffer_alloc(&b, 1), "quarn_buffer_alloc: a quarn buffer was filled twice");
    EXPECT_INTERNAL_PANIC(quarn_buffer_alloc(nullptr, 1), "quarn_buffer_alloc: a null pointer");
    quarn_buffer_free(&b);
}

}  // namespace
