// Answers in both framings with any bytes and any count, as the program accepts and decodes
// them; requests with any bytes and any length, as the device side parses them; and what one
// side builds, as the other reads it.
//
// Input: flags (bit 0 the alternate framing), sequence number, count (4 bytes), chunk size,
// then the report (its first 64 bytes are the answer; all of it is a request).
#include <algorithm>
#include <vector>

#include "engine/Reports.h"
#include "fuzz/FuzzInput.h"

namespace quarnel::fuzz {
namespace {

bool Within(std::span<const std::uint8_t> part, std::span<const std::uint8_t> whole) {
  return part.empty() ||
         (part.data() >= whole.data() && part.data() + part.size() <= whole.data() + whole.size());
}

void CheckAcceptance(Framing framing, const Report& answer, std::uint32_t count,
                     std::uint8_t sequence, std::uint16_t chunk) {
  const std::size_t usable = std::min<std::size_t>(count, kReportSize);
  if (AcceptWriteAnswer(framing, answer, count, sequence)) {
    Require(usable > AnswerLayout::length, "a write answer holds its length byte");
    Require(framing == Framing::Standard
                ? answer[AnswerLayout::sequence] == sequence
                : (answer[AnswerLayout::length] & kAlternateAnswerFlag) != 0,
            "a write answer is the one awaited");
  }
  const auto data = AcceptReadAnswer(framing, answer, count, sequence, chunk);
  if (!data) return;
  Require(data->offset == AnswerLayout::data, "read data starts after the length byte");
  Require(data->offset + data->length <= usable, "read data arrived in this very report");
  Require(data->length != 0, "an accepted read answer carries data");
  if (framing == Framing::Standard) {
    Require(
        answer[AnswerLayout::sequence] == sequence && answer[AnswerLayout::length] == data->length,
        "a standard read answer carries the awaited sequence number and its length");
  } else {
    Require((answer[AnswerLayout::length] & kAlternateAnswerFlag) != 0 && data->length == chunk,
            "an alternate read answer carries the flag and a whole chunk");
  }
}

void CheckParse(Framing framing, std::span<const std::uint8_t> report) {
  const auto p = ParseRequest(framing, report);
  if (!p) return;
  Require(Within(p->data, report), "request data lies within the report");
  Require(p->data.size() <= p->length, "request data is at most its length");
  Require(p->kind == ParsedRequest::Kind::Write || p->data.empty(), "only writes carry data");
}

// What the program builds, the device reads back field for field; what the device answers,
// the program takes.
void CheckRoundTrip(Framing framing, Input& in) {
  TransferRequest q;
  q.sequence = in.Byte();
  q.command = (in.Byte() & 1) != 0 ? kCommandRead : kCommandWrite;
  q.control = in.Byte();
  q.deviceAddress = static_cast<std::uint8_t>(kEepromAddress | (in.Byte() & 0x0F));
  q.address = static_cast<std::uint16_t>(in.Word());
  q.length = in.Byte();
  q.data = in.Bytes(in.Byte());
  const Report built = BuildTransferRequest(framing, q);
  const auto p = ParseRequest(framing, built);
  Require(p.has_value(), "a built request parses");
  const std::size_t length = std::min<std::size_t>(q.length, MaxRequestData(framing));
  Require(p->length == length && p->control == q.control && p->deviceAddress == q.deviceAddress &&
              p->address == q.address,
          "a built request's fields read back");
  Require(framing == Framing::Alternate || p->sequence == q.sequence, "sequence number");
  const bool write =
      framing == Framing::Standard ? q.command == kCommandWrite : (q.control & 0x40) == 0;
  Require(p->kind == (write ? ParsedRequest::Kind::Write : ParsedRequest::Kind::Read),
          "a built request's kind");
  if (write) {
    Require(p->data.size() == length, "a write request carries its length in data");
    for (std::size_t i = 0; i < length; ++i)
      Require(p->data[i] == (i < q.data.size() ? q.data[i] : 0), "the written bytes");
  }

  const AddressSplit split = SplitAddress(q.control, q.address);
  const auto joined = JoinAddress(
      q.control, static_cast<std::uint8_t>(kEepromAddress | split.highBits), split.field);
  Require((q.control & 0x30) != 0x10 || q.address >= 2048 || joined == q.address,
          "an address split for the device joins again");

  const std::vector<std::uint8_t> data(q.data.begin(), q.data.end());
  const Report answer = BuildTransferAnswer(framing, q.sequence, data);
  const std::uint16_t chunk = framing == Framing::Standard ? kStandardChunk : kAlternateChunk;
  const auto taken = AcceptReadAnswer(framing, answer, kReportSize, q.sequence, chunk);
  if (framing == Framing::Alternate && data.size() != chunk) return;
  Require(taken.has_value() == !data.empty(), "a built answer with data is taken");
  if (!taken) return;
  Require(taken->length == std::min(data.size(), kReportSize - AnswerLayout::data),
          "a built answer's length");
  Require(std::equal(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(taken->length),
                     answer.begin() + static_cast<std::ptrdiff_t>(taken->offset)),
          "a built answer's bytes");
}

}  // namespace
}  // namespace quarnel::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quarnel;
  fuzz::Input in(data, size);
  const Framing framing = (in.Byte() & 1) != 0 ? Framing::Alternate : Framing::Standard;
  const std::uint8_t sequence = in.Byte();
  const std::uint32_t count = in.Word();
  // Chunk sizes come from the product table, never 0.
  const std::uint16_t chunk = std::max<std::uint8_t>(in.Byte(), 1);
  const std::span<const std::uint8_t> rest = in.Rest();

  Report answer{};
  std::copy_n(rest.begin(), std::min(rest.size(), answer.size()), answer.begin());
  fuzz::CheckAcceptance(framing, answer, count, sequence, chunk);
  fuzz::CheckAcceptance(framing, answer, count, sequence,
                        framing == Framing::Standard ? kStandardChunk : kAlternateChunk);
  // The request as the device gets it: exactly the bytes that came (the end of the fuzzer's
  // buffer), so a read past them is seen by AddressSanitizer.
  fuzz::CheckParse(Framing::Standard, rest);
  fuzz::CheckParse(Framing::Alternate, rest);

  fuzz::Input again(rest.data(), rest.size());
  fuzz::CheckRoundTrip(framing, again);
  return 0;
}
