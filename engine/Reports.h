// Report layouts exchanged with the device, for both sides of the wire.
//
// Every report lives in a 64-byte buffer whose byte 0 is the report ID (always 0).
// Counts are byte counts of a report as the device link reports them, report-ID byte
// included; every accessor checks them against the buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "hid/Report.h"

namespace quarnel {

// The unit's serial EEPROM, and so the most this program ever writes and reads back.
inline constexpr std::size_t kEepromSize = 16384;

enum class Framing : std::uint8_t { Standard, Alternate };

inline constexpr std::uint16_t kStandardChunk = 8;
inline constexpr std::uint16_t kAlternateChunk = 16;

inline constexpr std::uint8_t kCommandRegister = 0x01;
inline constexpr std::uint8_t kCommandWrite = 0x02;
inline constexpr std::uint8_t kCommandRead = 0x03;
inline constexpr std::uint8_t kControlWrite = 0xA8;
inline constexpr std::uint8_t kControlRead = 0xE4;
inline constexpr std::uint8_t kEepromAddress = 0xA0;
inline constexpr std::uint8_t kRegisterParameter = 4;

// The version registers of the running firmware. Each mirrors a field of the image's version
// header, but the release kind.
struct VersionRegister {
  static constexpr std::uint8_t versionLow = 60;
  static constexpr std::uint8_t versionHigh = 61;
  static constexpr std::uint8_t buildLow = 66;
  static constexpr std::uint8_t buildHigh = 67;
  static constexpr std::uint8_t dayAndIndex = 68;
  static constexpr std::uint8_t monthYear = 69;
  static constexpr std::uint8_t revisionLow = 70;
  static constexpr std::uint8_t revisionHigh = 71;
  static constexpr std::uint8_t releaseKind = 72;  // kFormalRelease or anything else (beta)
};
inline constexpr std::uint8_t kFormalRelease = 0xA0;

// Register read request and its answer (same in both framings).
struct RegisterLayout {
  static constexpr std::size_t sequence = 1;
  static constexpr std::size_t command = 2;  // kCommandRegister
  static constexpr std::size_t count = 3;    // 0x01
  static constexpr std::size_t reg = 4;
  static constexpr std::size_t parameter = 5;
  static constexpr std::size_t answerSequence = 1;
  static constexpr std::size_t answerValue = 2;
};

// Memory transfer request, standard framing.
struct StandardLayout {
  static constexpr std::size_t sequence = 1;
  static constexpr std::size_t command = 2;
  static constexpr std::size_t totalLength = 3;  // data length + 8
  static constexpr std::size_t control = 4;
  static constexpr std::size_t deviceAddress = 5;
  static constexpr std::size_t addressHigh = 6;
  static constexpr std::size_t addressLow = 7;
  static constexpr std::size_t length = 8;
  static constexpr std::size_t data = 9;
};

// Memory transfer request, alternate framing: no sequence number, no command byte.
struct AlternateLayout {
  static constexpr std::size_t marker = 1;  // kAlternateMarker
  static constexpr std::size_t control = 2;
  static constexpr std::size_t deviceAddress = 3;
  static constexpr std::size_t addressHigh = 4;
  static constexpr std::size_t addressLow = 5;
  static constexpr std::size_t length = 6;
  static constexpr std::size_t data = 7;
};
inline constexpr std::uint8_t kAlternateMarker = 0x80;

// Memory transfer answer, both framings.
struct AnswerLayout {
  static constexpr std::size_t sequence = 1;  // standard framing only
  static constexpr std::size_t length = 2;    // alternate: bit 7 set, length in bits 0-4
  static constexpr std::size_t data = 3;
};
inline constexpr std::uint8_t kAlternateAnswerFlag = 0x80;
inline constexpr std::uint8_t kAlternateLengthMask = 0x1F;

// The shortest output report, report-ID byte included, that carries a memory transfer request
// of `chunk` data bytes (standard framing, 8: 17; alternate, 16: 23). Register requests are
// shorter.
constexpr std::uint32_t RequestLength(Framing framing, std::uint16_t chunk) {
  return static_cast<std::uint32_t>(
      (framing == Framing::Standard ? StandardLayout::data : AlternateLayout::data) + chunk);
}
// The shortest input report that carries an answer of `chunk` data bytes (8: 11; 16: 19).
constexpr std::uint32_t AnswerLength(std::uint16_t chunk) {
  return static_cast<std::uint32_t>(AnswerLayout::data + chunk);
}

// 255 becomes 1; 0 is never used.
constexpr std::uint8_t NextSequence(std::uint8_t s) {
  return s == 255 ? std::uint8_t{1} : static_cast<std::uint8_t>(s + 1);
}

struct AddressSplit {
  std::uint8_t highBits = 0;  // OR-ed into the device address byte
  std::uint16_t field = 0;    // the address field of the request
};
AddressSplit SplitAddress(std::uint8_t control, std::uint16_t address);

struct TransferRequest {
  std::uint8_t sequence = 0;
  std::uint8_t command = 0;
  std::uint8_t control = 0;
  std::uint8_t deviceAddress = 0;
  std::uint16_t address = 0;  // the address field
  std::uint8_t length = 0;
  std::span<const std::uint8_t> data;  // empty: the data bytes stay zero
};

// The largest data length a request can carry in each framing.
std::size_t MaxRequestData(Framing framing);

Report BuildRegisterRequest(std::uint8_t sequence, std::uint8_t reg, std::uint8_t parameter);
// Lengths beyond what the report can hold are cut to MaxRequestData.
Report BuildTransferRequest(Framing framing, const TransferRequest& request);

// Acceptance rules of the program side. `count` is what the device link returned.
std::optional<std::uint8_t> AcceptRegisterAnswer(const Report& answer, std::uint8_t sequence);
bool AcceptWriteAnswer(Framing framing, const Report& answer, std::uint32_t count,
                       std::uint8_t sequence);

struct AnswerData {
  std::size_t offset = AnswerLayout::data;
  std::size_t length = 0;
};
// Data of an accepted read answer; the range always lies within both the buffer and the count.
// The standard framing takes any length but 0 (the caller takes only the bytes it asked for);
// the alternate framing exactly `chunkSize`.
std::optional<AnswerData> AcceptReadAnswer(Framing framing, const Report& answer,
                                           std::uint32_t count, std::uint8_t sequence,
                                           std::uint16_t chunkSize);

// Device side: what a request asks for.
struct ParsedRequest {
  enum class Kind : std::uint8_t { Register, Write, Read } kind = Kind::Register;
  std::uint8_t sequence = 0;  // 0 for alternate-framing transfers
  std::uint8_t reg = 0;
  std::uint8_t control = 0;
  std::uint8_t deviceAddress = 0;
  std::uint16_t address = 0;  // address field
  std::uint8_t length = 0;
  std::span<const std::uint8_t> data;  // write data, within the report
};
// Parses an output report (byte 0 the report ID) of `count` bytes.
std::optional<ParsedRequest> ParseRequest(Framing framing, std::span<const std::uint8_t> report);

// The EEPROM address a request addresses, undoing SplitAddress.
std::uint16_t JoinAddress(std::uint8_t control, std::uint8_t deviceAddress, std::uint16_t field);

Report BuildRegisterAnswer(std::uint8_t sequence, std::uint8_t value);
Report BuildTransferAnswer(Framing framing, std::uint8_t sequence,
                           std::span<const std::uint8_t> data);

}  // namespace quarnel
