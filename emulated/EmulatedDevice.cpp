#include "emulated/EmulatedDevice.h"

#include <algorithm>
#include <cstdint>
#include <utility>

#include "engine/ImageVersion.h"
#include "engine/Products.h"

namespace quarnel::emulated {

std::array<std::uint8_t, 256> RegistersFor(std::span<const std::uint8_t> image) {
  using R = VersionRegister;
  std::array<std::uint8_t, 256> r{};
  r[R::releaseKind] = kFormalRelease;
  const auto marker = FindVersionMarker(image);
  if (!marker) return r;
  const auto h = ReadVersionHeader(image, *marker);
  if (!h) return r;
  r[R::versionLow] = h->versionLow;
  r[R::versionHigh] = h->versionHigh;
  r[R::buildLow] = static_cast<std::uint8_t>(h->buildWord);
  r[R::buildHigh] = static_cast<std::uint8_t>(h->buildWord >> 8);
  r[R::dayAndIndex] = h->dayAndIndex;
  r[R::monthYear] = h->monthYear;
  r[R::revisionLow] = static_cast<std::uint8_t>(h->revisionWord);
  r[R::revisionHigh] = static_cast<std::uint8_t>(h->revisionWord >> 8);
  return r;
}

Device::Device(std::uint16_t productId, Faults faults, std::span<const std::uint8_t> image)
    : productId_(productId),
      framing_(FramingForProduct(productId)),
      faults_(faults),
      registers_(RegistersFor(image)) {
  eeprom_.fill(0xFF);
}

hid::ServedAnswer Device::Serve(std::span<const std::uint8_t> report) {
  std::lock_guard lock(mutex_);
  hid::ServedAnswer out;
  if (vanished_) return out;
  ++requests_;
  if (faults_.silentAfter && requests_ > *faults_.silentAfter) return out;
  if (faults_.vanishAfter && requests_ > *faults_.vanishAfter) {
    vanished_ = true;
    out.vanish = true;
    return out;
  }
  // The Nth request is still answered; then the device is gone.
  if (faults_.vanishAfter && requests_ == *faults_.vanishAfter) {
    vanished_ = true;
    out.vanish = true;
  }
  const auto request = ParseRequest(framing_, report);
  if (!request) return out;  // not ours: a real unit ignores it too
  const Report answer = Answer(*request);
  ++answers_;
  out.latencyUs = faults_.latencyUs;
  if (requests_ >= faults_.delayFrom) {
    out.delayMs = faults_.delayMs;
    out.delayUs = faults_.delayUs;
  }
  const auto every = [&](std::uint32_t n) { return n != 0 && answers_ % n == 0; };
  if (every(faults_.dropEvery)) {
    if (faults_.lateDupAt == requests_) lateCopy_ = answer;
    return out;
  }
  if (every(faults_.staleEvery) && framing_ == Framing::Standard) {
    Report stale = lastAnswer_.value_or(answer);
    // An answer to an earlier request: its sequence number lags behind.
    const std::uint8_t seq = answer[AnswerLayout::sequence];
    stale[AnswerLayout::sequence] =
        seq <= 1 ? std::uint8_t{255} : static_cast<std::uint8_t>(seq - 1);
    out.answers.push_back(stale);
  }
  // The copy is sent now that the next request has come, ahead of that request's answer.
  if (lateCopy_ && faults_.lateDupAt && requests_ == *faults_.lateDupAt + 1)
    out.answers.push_back(*std::exchange(lateCopy_, std::nullopt));
  if (faults_.lateDupAt == requests_) lateCopy_ = answer;
  out.answers.push_back(answer);
  if (every(faults_.dupEvery) || faults_.dupAt == requests_) out.answers.push_back(answer);
  lastAnswer_ = answer;
  return out;
}

Report Device::Answer(const ParsedRequest& q) {
  if (q.kind == ParsedRequest::Kind::Register)
    return BuildRegisterAnswer(q.sequence, registers_[q.reg]);
  const std::uint16_t start = JoinAddress(q.control, q.deviceAddress, q.address);
  if (q.kind == ParsedRequest::Kind::Write) {
    Write(start, q.data);
    return BuildTransferAnswer(framing_, q.sequence, {});
  }
  // A read answers with the bytes asked for; the alternate framing always answers 16.
  std::array<std::uint8_t, kReportSize> data{};
  const std::size_t length =
      framing_ == Framing::Alternate
          ? std::size_t{kAlternateChunk}
          : std::min<std::size_t>(q.length, kReportSize - AnswerLayout::data);
  for (std::size_t i = 0; i < length; ++i) {
    const std::size_t address = (start + i) % kEepromSize;
    data[i] = eeprom_[address];
    if (faults_.flipAddress && address == *faults_.flipAddress)
      data[i] = static_cast<std::uint8_t>(~data[i]);
  }
  return BuildTransferAnswer(framing_, q.sequence, std::span(data).first(length));
}

// A serial EEPROM takes no write during its write cycle; the unit acknowledges the request all
// the same. Only a stored write starts a cycle.
void Device::Write(std::uint16_t start, std::span<const std::uint8_t> data) {
  if (faults_.refuseWrites) return;
  const Clock::time_point now = now_();
  if (now < busyUntil_) return;
  for (std::size_t i = 0; i < data.size(); ++i) eeprom_[(start + i) % kEepromSize] = data[i];
  busyUntil_ = now + std::chrono::microseconds(faults_.writeCycleUs.value_or(kDefaultWriteCycleUs));
}

void Device::SetClock(std::function<Clock::time_point()> now) {
  std::lock_guard lock(mutex_);
  now_ = std::move(now);
}

bool Device::vanished() const {
  std::lock_guard lock(mutex_);
  return vanished_;
}

std::uint32_t Device::requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

std::array<std::uint8_t, kEepromSize> Device::Eeprom() const {
  std::lock_guard lock(mutex_);
  return eeprom_;
}

void Device::SetEeprom(std::size_t address, std::span<const std::uint8_t> bytes) {
  std::lock_guard lock(mutex_);
  for (std::size_t i = 0; i < bytes.size(); ++i) eeprom_[(address + i) % kEepromSize] = bytes[i];
}

std::uint8_t Device::Register(std::uint8_t reg) const {
  std::lock_guard lock(mutex_);
  return registers_[reg];
}

void Device::SetRegister(std::uint8_t reg, std::uint8_t value) {
  std::lock_guard lock(mutex_);
  registers_[reg] = value;
}

}  // namespace quarnel::emulated
