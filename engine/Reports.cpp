#include "engine/Reports.h"

#include <algorithm>

namespace quarnel {

namespace {

template <class T>
constexpr std::uint8_t Byte(T v) {
  return static_cast<std::uint8_t>(v);  // keeps the low byte
}

// A count the link can report is never beyond the buffer; a hostile one is clipped to it.
constexpr std::size_t Usable(std::uint32_t count) {
  return std::min<std::size_t>(count, kReportSize);
}

void CopyData(Report& r, std::size_t at, std::size_t length, std::span<const std::uint8_t> data) {
  const std::size_t n = std::min({length, data.size(), kReportSize - at});
  std::copy_n(data.begin(), n, r.begin() + static_cast<std::ptrdiff_t>(at));
}

}  // namespace

// Bits 4-5 of the control byte say how the EEPROM is addressed. 01: a one-byte address field,
// as small serial EEPROMs take it, whose bits 8-10 ride in bits 1-3 of the device address
// byte (0xA0, 0xA2, ... 0xAE name its 256-byte blocks). Anything else: the address field
// carries the whole 16-bit address. The program's own control bytes (0xA8, 0xE4) have 10
// there, so it always sends the full address to device 0xA0; the device side undoes either.
constexpr bool OneByteAddress(std::uint8_t control) {
  return (control & 0x30) == 0x10;
}

AddressSplit SplitAddress(std::uint8_t control, std::uint16_t address) {
  if (OneByteAddress(control)) {
    return {Byte((address / 256u) << 1), Byte(address)};
  }
  return {0, address};
}

std::uint16_t JoinAddress(std::uint8_t control, std::uint8_t deviceAddress, std::uint16_t field) {
  if (OneByteAddress(control)) {
    return static_cast<std::uint16_t>((((deviceAddress >> 1) & 0x07u) << 8) | (field & 0xFFu));
  }
  return field;
}

std::size_t MaxRequestData(Framing framing) {
  return kReportSize -
         (framing == Framing::Standard ? StandardLayout::data : AlternateLayout::data);
}

Report BuildRegisterRequest(std::uint8_t sequence, std::uint8_t reg, std::uint8_t parameter) {
  Report r{};
  r[RegisterLayout::sequence] = sequence;
  r[RegisterLayout::command] = kCommandRegister;
  r[RegisterLayout::count] = 0x01;
  r[RegisterLayout::reg] = reg;
  r[RegisterLayout::parameter] = parameter;
  return r;
}

Report BuildTransferRequest(Framing framing, const TransferRequest& q) {
  Report r{};
  const auto length = Byte(std::min<std::size_t>(q.length, MaxRequestData(framing)));
  if (framing == Framing::Standard) {
    using L = StandardLayout;
    r[L::sequence] = q.sequence;
    r[L::command] = q.command;
    r[L::totalLength] = Byte(length + 8u);
    r[L::control] = q.control;
    r[L::deviceAddress] = q.deviceAddress;
    r[L::addressHigh] = Byte(q.address >> 8);
    r[L::addressLow] = Byte(q.address);
    r[L::length] = length;
    CopyData(r, L::data, length, q.data);
  } else {
    using L = AlternateLayout;
    r[L::marker] = kAlternateMarker;
    r[L::control] = q.control;
    r[L::deviceAddress] = q.deviceAddress;
    r[L::addressHigh] = Byte(q.address >> 8);
    r[L::addressLow] = Byte(q.address);
    r[L::length] = length;
    CopyData(r, L::data, length, q.data);
  }
  return r;
}

std::optional<std::uint8_t> AcceptRegisterAnswer(const Report& answer, std::uint8_t sequence) {
  if (answer[RegisterLayout::answerSequence] != sequence) return std::nullopt;
  return answer[RegisterLayout::answerValue];
}

bool AcceptWriteAnswer(Framing framing, const Report& answer, std::uint32_t count,
                       std::uint8_t sequence) {
  if (Usable(count) <= AnswerLayout::length) return false;
  if (framing == Framing::Standard) return answer[AnswerLayout::sequence] == sequence;
  return (answer[AnswerLayout::length] & kAlternateAnswerFlag) != 0;
}

std::optional<AnswerData> AcceptReadAnswer(Framing framing, const Report& answer,
                                           std::uint32_t count, std::uint8_t sequence,
                                           std::uint16_t chunkSize) {
  const std::size_t usable = Usable(count);
  if (usable <= AnswerLayout::length) return std::nullopt;
  std::size_t length = 0;
  if (framing == Framing::Standard) {
    if (answer[AnswerLayout::sequence] != sequence) return std::nullopt;
    length = answer[AnswerLayout::length];
    // An answer without data moves nothing on: taking it would ask for the same bytes again.
    if (length == 0) return std::nullopt;
  } else {
    const std::uint8_t b = answer[AnswerLayout::length];
    if ((b & kAlternateAnswerFlag) == 0) return std::nullopt;
    length = b & kAlternateLengthMask;
    if (length != chunkSize) return std::nullopt;
  }
  // The data must have arrived in this very report (and so lies inside the buffer).
  if (usable < AnswerLayout::data + length) return std::nullopt;
  return AnswerData{AnswerLayout::data, length};
}

std::optional<ParsedRequest> ParseRequest(Framing framing, std::span<const std::uint8_t> report) {
  const auto at = [&](std::size_t i) -> std::uint8_t { return i < report.size() ? report[i] : 0; };
  const auto dataOf = [&](std::size_t start, std::uint8_t length) {
    if (start >= report.size()) return std::span<const std::uint8_t>{};
    return report.subspan(start, std::min<std::size_t>(length, report.size() - start));
  };
  ParsedRequest p;
  const bool alternateTransfer = framing == Framing::Alternate &&
                                 at(AlternateLayout::marker) == kAlternateMarker &&
                                 (at(AlternateLayout::deviceAddress) & 0xF0) == kEepromAddress;
  if (alternateTransfer) {
    using L = AlternateLayout;
    if (report.size() <= L::length) return std::nullopt;
    p.control = at(L::control);
    p.kind = (p.control & 0x40) != 0 ? ParsedRequest::Kind::Read : ParsedRequest::Kind::Write;
    p.deviceAddress = at(L::deviceAddress);
    p.address = static_cast<std::uint16_t>((at(L::addressHigh) << 8) | at(L::addressLow));
    p.length = at(L::length);
    if (p.kind == ParsedRequest::Kind::Write) p.data = dataOf(L::data, p.length);
    return p;
  }
  const std::uint8_t command = at(StandardLayout::command);
  if (command == kCommandRegister) {
    if (report.size() <= RegisterLayout::parameter) return std::nullopt;
    p.kind = ParsedRequest::Kind::Register;
    p.sequence = at(RegisterLayout::sequence);
    p.reg = at(RegisterLayout::reg);
    return p;
  }
  if (framing != Framing::Standard || (command != kCommandWrite && command != kCommandRead)) {
    return std::nullopt;
  }
  using L = StandardLayout;
  if (report.size() <= L::length) return std::nullopt;
  p.kind = command == kCommandWrite ? ParsedRequest::Kind::Write : ParsedRequest::Kind::Read;
  p.sequence = at(L::sequence);
  p.control = at(L::control);
  p.deviceAddress = at(L::deviceAddress);
  p.address = static_cast<std::uint16_t>((at(L::addressHigh) << 8) | at(L::addressLow));
  p.length = at(L::length);
  if (p.kind == ParsedRequest::Kind::Write) p.data = dataOf(L::data, p.length);
  return p;
}

Report BuildRegisterAnswer(std::uint8_t sequence, std::uint8_t value) {
  Report r{};
  r[RegisterLayout::answerSequence] = sequence;
  r[RegisterLayout::answerValue] = value;
  return r;
}

Report BuildTransferAnswer(Framing framing, std::uint8_t sequence,
                           std::span<const std::uint8_t> data) {
  Report r{};
  const auto length = Byte(std::min<std::size_t>(
      data.size(), framing == Framing::Standard ? kReportSize - AnswerLayout::data
                                                : std::size_t{kAlternateLengthMask}));
  if (framing == Framing::Standard) {
    r[AnswerLayout::sequence] = sequence;
    r[AnswerLayout::length] = length;
  } else {
    r[AnswerLayout::length] = Byte(kAlternateAnswerFlag | length);
  }
  CopyData(r, AnswerLayout::data, length, data);
  return r;
}

}  // namespace quarnel
