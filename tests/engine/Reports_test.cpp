#include "engine/Reports.h"

#include <gtest/gtest.h>

#include <vector>

namespace quarnel {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Head(const Report& r, std::size_t n) {
  return Bytes(r.begin(), r.begin() + static_cast<long>(n));
}

bool RestZero(const Report& r, std::size_t from) {
  for (std::size_t i = from; i < r.size(); ++i)
    if (r[i] != 0) return false;
  return true;
}

std::uint8_t Byte(std::uint16_t v) {
  return static_cast<std::uint8_t>(v);
}

const Bytes kData = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};

TEST(Reports, StandardWriteRequestLayout) {
  const auto split = SplitAddress(kControlWrite, 256);
  const Report r = BuildTransferRequest(
      Framing::Standard,
      {5, kCommandWrite, kControlWrite, static_cast<std::uint8_t>(kEepromAddress | split.highBits),
       split.field, 8, kData});
  EXPECT_EQ(Head(r, 17), (Bytes{0x00, 0x05, 0x02, 0x10, 0xA8, 0xA0, 0x01, 0x00, 0x08, 0x11, 0x22,
                                0x33, 0x44, 0x55, 0x66, 0x77, 0x88}));
  EXPECT_TRUE(RestZero(r, 17));
}

TEST(Reports, AlternateWriteRequestLayout) {
  const Report r = BuildTransferRequest(
      Framing::Alternate, {5, kCommandWrite, kControlWrite, kEepromAddress, 256, 8, kData});
  EXPECT_EQ(Head(r, 15), (Bytes{0x00, 0x80, 0xA8, 0xA0, 0x01, 0x00, 0x08, 0x11, 0x22, 0x33, 0x44,
                                0x55, 0x66, 0x77, 0x88}));
  EXPECT_TRUE(RestZero(r, 15));
}

TEST(Reports, ReadRequestWithoutDataLeavesZeros) {
  const Report r = BuildTransferRequest(
      Framing::Standard, {9, kCommandRead, kControlRead, kEepromAddress, 0x2FF8, 8, {}});
  EXPECT_EQ(Head(r, 9), (Bytes{0x00, 0x09, 0x03, 0x10, 0xE4, 0xA0, 0x2F, 0xF8, 0x08}));
  EXPECT_TRUE(RestZero(r, 9));
}

TEST(Reports, OverlongLengthIsCutToTheReport) {
  const Bytes big(200, 0xEE);
  const Report s = BuildTransferRequest(
      Framing::Standard, {1, kCommandWrite, kControlWrite, kEepromAddress, 0, 200, big});
  EXPECT_EQ(s[StandardLayout::length], 55);
  EXPECT_EQ(s[63], 0xEE);
  const Report a = BuildTransferRequest(
      Framing::Alternate, {1, kCommandWrite, kControlWrite, kEepromAddress, 0, 200, big});
  EXPECT_EQ(a[AlternateLayout::length], 57);
}

// The shortest reports said to carry a chunk's request and answer are exactly what the layouts
// use: the chunk's last byte is their last, and an answer cut there is still taken.
TEST(Reports, RequestAndAnswerLengthsAreWhatTheLayoutsUse) {
  struct Case {
    Framing framing;
    std::uint16_t chunk;
    std::uint32_t output;
    std::uint32_t input;
  };
  for (const Case c : {Case{Framing::Standard, kStandardChunk, 17, 11},
                       Case{Framing::Alternate, kAlternateChunk, 23, 19}}) {
    const Bytes full(c.chunk, 0xFF);
    EXPECT_EQ(RequestLength(c.framing, c.chunk), c.output);
    const Report q = BuildTransferRequest(
        c.framing, {1, kCommandWrite, kControlWrite, kEepromAddress, 0, Byte(c.chunk), full});
    EXPECT_EQ(q[c.output - 1], 0xFF);
    EXPECT_TRUE(RestZero(q, c.output));
    EXPECT_EQ(AnswerLength(c.chunk), c.input);
    const Report a = BuildTransferAnswer(c.framing, 1, full);
    EXPECT_EQ(a[c.input - 1], 0xFF);
    EXPECT_TRUE(RestZero(a, c.input));
    EXPECT_TRUE(AcceptReadAnswer(c.framing, a, c.input, 1, c.chunk));
    EXPECT_FALSE(AcceptReadAnswer(c.framing, a, c.input - 1, 1, c.chunk));
  }
}

TEST(Reports, AddressSplit) {
  // Control bytes with bits 4-5 = 01 carry the page in the device address byte.
  const auto paged = SplitAddress(0x90, 0x234);
  EXPECT_EQ(kEepromAddress | paged.highBits, 0xA4);
  EXPECT_EQ(paged.field, 0x34);
  EXPECT_EQ(JoinAddress(0x90, 0xA4, paged.field), 0x234);
  // The program's own control bytes always send the full address.
  for (std::uint8_t control : {kControlWrite, kControlRead}) {
    const auto full = SplitAddress(control, 0x2FF8);
    EXPECT_EQ(full.highBits, 0);
    EXPECT_EQ(full.field, 0x2FF8);
    EXPECT_EQ(JoinAddress(control, kEepromAddress, 0x2FF8), 0x2FF8);
  }
}

TEST(Reports, SequenceWrapsToOneNeverZero) {
  EXPECT_EQ(NextSequence(1), 2);
  EXPECT_EQ(NextSequence(254), 255);
  EXPECT_EQ(NextSequence(255), 1);
}

TEST(Reports, RegisterRequestAndAnswer) {
  const Report r = BuildRegisterRequest(7, 60, kRegisterParameter);
  EXPECT_EQ(Head(r, 6), (Bytes{0x00, 0x07, 0x01, 0x01, 0x3C, 0x04}));
  EXPECT_TRUE(RestZero(r, 6));
  EXPECT_EQ(AcceptRegisterAnswer(BuildRegisterAnswer(7, 0x23), 7), 0x23);
  EXPECT_FALSE(AcceptRegisterAnswer(BuildRegisterAnswer(6, 0x23), 7));
  // A read that returned nothing leaves a zeroed buffer, which never matches.
  EXPECT_FALSE(AcceptRegisterAnswer(Report{}, 1));
}

TEST(Reports, WriteAnswerRules) {
  const Report std5 = BuildTransferAnswer(Framing::Standard, 5, {});
  for (std::uint32_t count : {0u, 1u, 2u})
    EXPECT_FALSE(AcceptWriteAnswer(Framing::Standard, std5, count, 5));
  EXPECT_TRUE(AcceptWriteAnswer(Framing::Standard, std5, 3, 5));
  EXPECT_TRUE(AcceptWriteAnswer(Framing::Standard, std5, 64, 5));
  EXPECT_FALSE(AcceptWriteAnswer(Framing::Standard, std5, 64, 6));

  const Report alt = BuildTransferAnswer(Framing::Alternate, 0, {});
  EXPECT_EQ(alt[AnswerLayout::length], 0x80);
  EXPECT_TRUE(AcceptWriteAnswer(Framing::Alternate, alt, 3, 99));  // no sequence number to compare
  EXPECT_FALSE(AcceptWriteAnswer(Framing::Alternate, alt, 2, 99));
  EXPECT_FALSE(AcceptWriteAnswer(Framing::Alternate, Report{}, 64, 0));
}

TEST(Reports, StandardReadAnswerNeedsItsDataInTheCount) {
  Report a = BuildTransferAnswer(Framing::Standard, 5, kData);
  EXPECT_EQ(AcceptReadAnswer(Framing::Standard, a, 11, 5, 8)->length, 8u);
  EXPECT_FALSE(AcceptReadAnswer(Framing::Standard, a, 10, 5, 8));
  EXPECT_FALSE(AcceptReadAnswer(Framing::Standard, a, 64, 4, 8));
  for (std::uint32_t count : {0u, 1u, 2u})
    EXPECT_FALSE(AcceptReadAnswer(Framing::Standard, a, count, 5, 8));
  // A count of 18 carries at most 15 data bytes.
  a[AnswerLayout::length] = 15;
  EXPECT_TRUE(AcceptReadAnswer(Framing::Standard, a, 18, 5, 8));
  a[AnswerLayout::length] = 16;
  EXPECT_FALSE(AcceptReadAnswer(Framing::Standard, a, 18, 5, 8));
  // A length claiming more than the buffer holds is refused, whatever the count says.
  a[AnswerLayout::length] = 62;
  EXPECT_FALSE(AcceptReadAnswer(Framing::Standard, a, 64, 5, 8));
  EXPECT_FALSE(AcceptReadAnswer(Framing::Standard, a, 1000, 5, 8));
  a[AnswerLayout::length] = 61;
  EXPECT_EQ(AcceptReadAnswer(Framing::Standard, a, 64, 5, 8)->length, 61u);
  EXPECT_EQ(AcceptReadAnswer(Framing::Standard, a, 1000, 5, 8)->length, 61u);
  // An answer that carries nothing would move the read-back nowhere.
  a[AnswerLayout::length] = 0;
  EXPECT_FALSE(AcceptReadAnswer(Framing::Standard, a, 64, 5, 8));
}

TEST(Reports, AlternateReadAnswerNeedsSixteenBytesThatArrived) {
  const Bytes sixteen(16, 0x42);
  const Report a = BuildTransferAnswer(Framing::Alternate, 0, sixteen);
  EXPECT_EQ(a[AnswerLayout::length], 0x90);
  const auto ok = AcceptReadAnswer(Framing::Alternate, a, 64, 123, 16);
  ASSERT_TRUE(ok);
  EXPECT_EQ(ok->offset, 3u);
  EXPECT_EQ(ok->length, 16u);
  EXPECT_TRUE(AcceptReadAnswer(Framing::Alternate, a, 19, 0, 16));
  // A short report must not let stale bytes of an earlier answer through.
  EXPECT_FALSE(AcceptReadAnswer(Framing::Alternate, a, 18, 0, 16));
  EXPECT_FALSE(AcceptReadAnswer(Framing::Alternate, a, 3, 0, 16));
  // Length must equal the chunk size, not the requested length; bit 7 must be set.
  const Report eight = BuildTransferAnswer(Framing::Alternate, 0, kData);
  EXPECT_FALSE(AcceptReadAnswer(Framing::Alternate, eight, 64, 0, 16));
  Report noFlag = a;
  noFlag[AnswerLayout::length] = 0x10;
  EXPECT_FALSE(AcceptReadAnswer(Framing::Alternate, noFlag, 64, 0, 16));
}

TEST(Reports, DeviceParsesWhatTheProgramBuilds) {
  for (Framing f : {Framing::Standard, Framing::Alternate}) {
    const Report w = BuildTransferRequest(
        f, {200, kCommandWrite, kControlWrite, kEepromAddress, 0x1234, 8, kData});
    const auto pw = ParseRequest(f, w);
    ASSERT_TRUE(pw);
    EXPECT_EQ(pw->kind, ParsedRequest::Kind::Write);
    EXPECT_EQ(pw->address, 0x1234);
    EXPECT_EQ(Bytes(pw->data.begin(), pw->data.end()), kData);
    const Report r =
        BuildTransferRequest(f, {200, kCommandRead, kControlRead, kEepromAddress, 0x10, 16, {}});
    EXPECT_EQ(ParseRequest(f, r)->kind, ParsedRequest::Kind::Read);
    // A register request whose sequence number is 0x80 is still a register request.
    const auto reg = ParseRequest(f, BuildRegisterRequest(0x80, 72, 4));
    ASSERT_TRUE(reg);
    EXPECT_EQ(reg->kind, ParsedRequest::Kind::Register);
    EXPECT_EQ(reg->reg, 72);
  }
  // A truncated report never makes the parser read beyond it.
  const Report w = BuildTransferRequest(
      Framing::Standard, {1, kCommandWrite, kControlWrite, kEepromAddress, 0, 8, kData});
  const auto cut = ParseRequest(Framing::Standard, std::span(w).first(12));
  ASSERT_TRUE(cut);
  EXPECT_EQ(cut->data.size(), 3u);
  EXPECT_FALSE(ParseRequest(Framing::Standard, std::span(w).first(4)));
  EXPECT_FALSE(ParseRequest(Framing::Standard, Report{}));
}

}  // namespace
}  // namespace quarnel
