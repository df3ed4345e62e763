#include "platform/CodePage.h"

#include <gtest/gtest.h>

namespace zurodid {
namespace {

TEST(CodePage, ThaiRoundTripsThroughWindows874) {
    const std::string thai = "วันสำคัญ - เตือนล่วงหน้าก่อน";
    std::string bytes = Windows874FromUtf8(thai);
    // One byte a character: the code page is single-byte.
    EXPECT_EQ(bytes.size(), 28u);
    EXPECT_EQ(static_cast<unsigned char>(bytes[0]), 0xC7); // ว
    EXPECT_EQ(Utf8FromWindows874(bytes), thai);
}

TEST(CodePage, WhatTheCodePageCannotHoldBecomesAQuestionMark) {
    EXPECT_EQ(Windows874FromUtf8("a€b"), "a\x80"
                                         "b"); // the euro sign is in the code page
    EXPECT_EQ(Windows874FromUtf8("aéb"), "a?b");
    EXPECT_EQ(Windows874FromUtf8("日本"), "??");
    EXPECT_EQ(Windows874FromUtf8("x\xff"
                                 "y"),
              "x?y");                                 // not UTF-8 at all
    EXPECT_EQ(Windows874FromUtf8("x\xe0\xb8"), "x?"); // cut in the middle of a character
    EXPECT_EQ(Utf8FromWindows874("a\xdb"
                                 "b"),
              "a?b"); // a hole of the code page
}

} // namespace
} // namespace zurodid
