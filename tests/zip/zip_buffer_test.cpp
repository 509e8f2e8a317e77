// The engine's byte buffer: allocation rules, deep copies and the text conversions.
#include "zip/zip_buffer.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

TEST(ZipBufferTest, Allocate_SameSizeKeepsBlockAndZeroesOnlyWhenAsked) {
    CZipBuffer buffer(16, false);
    uint8_t* block = buffer.Data();
    std::memset(block, 0xAB, 16);
    EXPECT_EQ(buffer.Allocate(16, false), block);
    EXPECT_EQ(block[15], 0xAB);
    EXPECT_EQ(buffer.Allocate(16, true), block);
    for (uint32_t i = 0; i < 16; ++i) EXPECT_EQ(block[i], 0) << i;
}

TEST(ZipBufferTest, Allocate_NewSizeGivesZeroFilledBlockWhenAsked) {
    CZipBuffer buffer(4, false);
    ASSERT_NE(buffer.Allocate(300, true), nullptr);
    EXPECT_EQ(buffer.Size(), 300u);
    for (uint32_t i = 0; i < 300; ++i) ASSERT_EQ(buffer.Data()[i], 0) << i;
}

TEST(ZipBufferTest, Allocate_ZeroEmptiesAndReturnsNull) {
    CZipBuffer buffer(8, true);
    EXPECT_EQ(buffer.Allocate(0, true), nullptr);
    EXPECT_TRUE(buffer.IsEmpty());
    EXPECT_EQ(buffer.Data(), nullptr);
    buffer.Release();  // releasing an empty buffer is harmless
    EXPECT_EQ(buffer.Size(), 0u);
}

TEST(ZipBufferTest, Copy_IsDeepAndEmptyStaysNull) {
    CZipBuffer source;
    TextToBuffer("name", source);
    CZipBuffer copy(source);
    ASSERT_NE(copy.Data(), source.Data());
    copy.Data()[0] = 'N';
    EXPECT_EQ(BufferToText(source), "name");
    EXPECT_EQ(BufferToText(copy), "Name");

    CZipBuffer empty;
    copy = empty;
    EXPECT_EQ(copy.Data(), nullptr);
    EXPECT_EQ(copy.Size(), 0u);
    copy = copy;
    EXPECT_TRUE(copy.IsEmpty());
}

TEST(ZipBufferTest, TextToBuffer_StoresBytesWithoutTerminatorAndEmptyReleases) {
    CZipBuffer buffer;
    EXPECT_EQ(TextToBuffer("books\\diary.str", buffer), 15u);
    EXPECT_EQ(buffer.Size(), 15u);
    EXPECT_EQ(BufferToText(buffer), "books\\diary.str");
    EXPECT_EQ(TextToBuffer("", buffer), 0u);
    EXPECT_TRUE(buffer.IsEmpty());
    EXPECT_EQ(BufferToText(buffer), "");
}

}  // namespace
