// The transfer engine's write and read-back steps, taken one by one on this thread with no
// pauses, against a unit whose every read the input chooses: the emulated device's next
// answer, a copy of the last answer handed out, any report with any count, a time-out or a
// link that fails.
//
// Input: the product (an index into the product table), the image length in 16-byte units,
// the first sequence number, the phases to run (bit 0 the write, bit 1 the read-back; none:
// both), then one record per read: a selector byte and, for any report, its count (one byte,
// or four) and up to 64 bytes.
#include <algorithm>
#include <array>
#include <cstring>
#include <deque>
#include <memory>
#include <utility>
#include <vector>

#include "emulated/EmulatedDevice.h"
#include "engine/Products.h"
#include "engine/TransferEngine.h"
#include "fuzz/FuzzInput.h"
#include "hid/HidApp.h"

namespace quarnel::fuzz {
namespace {

constexpr int kNoRequest = -1;

// The far end of the link: the emulated device and the answers it has queued, each tagged
// with the number of the request it answers. The worker runs without its pause after each
// write, and the EEPROM without its write cycle.
struct Wire {
  Wire(Input& input, std::uint16_t productId, std::span<const std::uint8_t> image)
      : in(input), device(productId, emulated::Faults{.writeCycleUs = 0}, image) {}

  struct Answer {
    Report report{};
    int request = kNoRequest;
  };

  Input& in;
  emulated::Device device;
  std::deque<Answer> queued;
  Answer lastGiven;
  int lastReadRequest = kNoRequest;  // whose answer the last read handed out
  std::vector<Report> written;
};

class FuzzChannel final : public hid::Channel {
 public:
  explicit FuzzChannel(Wire& wire) : w_(wire) {}

  hid::IoResult Read(Report& report, std::uint32_t length, std::uint32_t) override {
    w_.lastReadRequest = kNoRequest;
    if (w_.in.empty()) return TimedOut();
    const std::uint8_t selector = w_.in.Byte();
    switch (selector & 3) {
      case 0:  // the device's next answer
        if (w_.queued.empty()) return TimedOut();
        w_.lastGiven = w_.queued.front();
        w_.queued.pop_front();
        return Give(report, w_.lastGiven, length);
      case 1: {  // any report, any count
        const std::uint32_t count = (selector & 4) != 0 ? w_.in.Word() : w_.in.Byte();
        const auto bytes = w_.in.Bytes(kReportSize);
        report = Report{};
        std::copy(bytes.begin(), bytes.end(), report.begin());
        return {hid::IoStatus::Ok, count, {}};
      }
      case 2:  // the last answer once more
        return Give(report, w_.lastGiven, length);
      default:
        if (selector != 0xFF) return TimedOut();
        return {hid::IoStatus::Failed, 0, {hid::FailureKind::Gone, "fuzz", "the unit is gone"}};
    }
  }

  hid::IoResult Write(const Report& report, std::uint32_t length, std::uint32_t) override {
    const int request = static_cast<int>(w_.written.size());
    w_.written.push_back(report);
    for (const Report& a : w_.device.Serve(std::span(report).first(length)).answers)
      w_.queued.push_back({a, request});
    return {hid::IoStatus::Ok, length, {}};
  }

 private:
  static hid::IoResult TimedOut() { return {hid::IoStatus::TimedOut, 0, {}}; }
  hid::IoResult Give(Report& report, const Wire::Answer& a, std::uint32_t length) {
    report = a.report;
    w_.lastReadRequest = a.request;
    return {hid::IoStatus::Ok, length, {}};
  }

  Wire& w_;
};

class FuzzBus final : public hid::Bus {
 public:
  FuzzBus(Wire& wire, std::uint16_t productId) : wire_(wire), productId_(productId) {}
  std::vector<hid::InterfaceInfo> Enumerate() override {
    return {{"fuzz", "fuzz", kVendorId, productId_}};
  }
  Result<hid::OpenedInterface, hid::LinkFailure> Open(const hid::InterfaceInfo&) override {
    hid::OpenedInterface out;
    out.channel = std::make_unique<FuzzChannel>(wire_);
    out.inputLength = kReportSize;
    out.outputLength = kReportSize;
    return out;
  }

 private:
  Wire& wire_;
  std::uint16_t productId_;
};

// Runs one phase until it finishes, the input runs out or the link dies, checking after every
// step what the engine promises.
void RunPhase(Phase phase, TransferEngine& engine, CHidApp& link, Wire& wire,
              const Product& product) {
  const std::span<const std::uint8_t> image = engine.image();
  const Framing framing = product.framing;
  const bool write = phase == Phase::Write;
  const int base = write ? 0 : 50;
  std::vector<std::pair<std::size_t, std::size_t>> asked;  // the read-back's requests
  bool inStep = true;  // every accepted answer was the device's own to the request in flight
  bool awaiting = false;
  std::size_t nextWrite = 0;
  std::size_t lastRead = 0;
  int asksOfChunk = 0;
  int inFlight = kNoRequest;
  wire.queued.clear();  // a fresh connection
  engine.SetupPhase(phase);
  for (;;) {
    const TransferSnapshot before = engine.Snapshot();
    if (before.finished || wire.in.empty() || link.Lost()) break;
    const std::size_t sent = wire.written.size();
    write ? engine.WriteStep() : engine.ReadBackStep();
    const TransferSnapshot after = engine.Snapshot();

    Require(after.progress == -1 || (after.progress >= base && after.progress <= base + 50),
            "progress stays within its phase's half");
    Require(after.progress >= before.progress, "progress never goes back");
    Require(after.bytesDone >= before.bytesDone && after.bytesDone <= after.totalBytes,
            "bytes done only grow, up to the image");
    Require(after.totalBytes == image.size(), "the phase covers the image");
    Require(after.sequence != 0, "sequence number 0 is never used");
    Require(wire.written.size() <= sent + 1, "one request per step");

    if (wire.written.size() > sent) {
      Require(!awaiting, "no request while an answer is awaited");
      awaiting = true;
      inFlight = static_cast<int>(sent);
      const Report& r = wire.written.back();
      const auto q = ParseRequest(framing, r);
      Require(q.has_value(), "the device understands every request");
      Require(q->kind == (write ? ParsedRequest::Kind::Write : ParsedRequest::Kind::Read),
              "the request is of its phase");
      Require(framing == Framing::Alternate || q->sequence == before.sequence,
              "a request carries the next sequence number");
      const std::size_t at = JoinAddress(q->control, q->deviceAddress, q->address);
      Require(at < image.size(), "no request beyond the image");
      Require(q->length == std::min<std::size_t>(product.chunkSize, image.size() - at),
              "a request asks for a whole chunk, or the rest of the image");
      if (write) {
        Require(at == nextWrite, "the image is written in order, chunk after chunk");
        nextWrite = at + q->length;
        Require(std::equal(q->data.begin(), q->data.end(),
                           image.begin() + static_cast<std::ptrdiff_t>(at)),
                "a write carries the image's bytes");
      } else {
        // The alternate framing asks for a chunk again until two answers in a row agree.
        Require(at == before.bytesDone &&
                    (at == 0 || at > lastRead || (framing == Framing::Alternate && at == lastRead)),
                "the read-back asks from where it stands, onward");
        asksOfChunk = at == lastRead && !asked.empty() ? asksOfChunk + 1 : 1;
        Require(asksOfChunk <= 6, "a chunk is asked for at most six times");
        lastRead = at;
        asked.emplace_back(at, q->length);
      }
    }
    if (after.accepted != before.accepted) {
      Require(after.accepted == before.accepted + 1, "one answer accepted per step");
      Require(awaiting, "an answer is accepted only for a request sent");
      awaiting = false;
      if (wire.lastReadRequest != inFlight) inStep = false;
      Require(write || after.finished || after.bytesDone > before.bytesDone ||
                  framing == Framing::Alternate,
              "every accepted read answer of the standard framing moves the read-back forward");
    }
  }

  const TransferSnapshot end = engine.Snapshot();
  const auto eeprom = wire.device.Eeprom();
  // memcmp, not a loop: the fuzzer's comparison hooks would make a loop of 16384 bytes the
  // bulk of each run.
  if (write && end.finished) {
    Require(std::memcmp(image.data(), eeprom.data(), image.size()) == 0,
            "a finished write has sent the whole image");
  }
  if (!write) {
    static constexpr std::array<std::uint8_t, kReadBackSize> kZeros{};
    const auto back = engine.ReadBack();
    std::array<std::uint8_t, kReadBackSize> unasked;
    std::memcpy(unasked.data(), back.data(), unasked.size());
    for (const auto& [at, length] : asked) std::memset(unasked.data() + at, 0, length);
    Require(std::memcmp(unasked.data(), kZeros.data(), kZeros.size()) == 0,
            "the read-back holds only bytes asked for");
    // A phase whose answers the engine found out of step is failed by the dialog whatever it
    // holds; the answers seen after the last one accepted may also have hidden a forged one.
    if (end.finished && inStep && !end.outOfStep) {
      Require(std::memcmp(back.data(), eeprom.data(), image.size()) == 0,
              "a read-back answered in step holds the unit's bytes");
    }
  }
}

}  // namespace
}  // namespace quarnel::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quarnel;
  fuzz::Input in(data, size);
  const Product& product = kProducts[in.Byte() % kProducts.size()];
  const std::size_t length = std::size_t{in.Byte() % 64u + 1} * 16;
  const std::span<const std::uint8_t> image =
      FirmwareImage().first(std::min(length, FirmwareImage().size()));
  const std::uint8_t sequence = in.Byte();
  const std::uint8_t phases = in.Byte() & 3;

  fuzz::Wire wire(in, product.productId, image);
  fuzz::FuzzBus bus(wire, product.productId);
  CHidApp link(bus);
  fuzz::Require(link.Open(kVendorId, product.productId), "the one interface opens");
  TransferEngine engine(image);
  // Register reads with no link send nothing and use up their sequence numbers: the phases
  // start at the one the input asks for.
  for (std::uint8_t value = 0; engine.Snapshot().sequence != std::max<std::uint8_t>(sequence, 1);)
    engine.ReadRegister(0, 0, value);
  engine.SetLink(&link);
  engine.SetPauses(0, 0);
  engine.SetStragglerWait(std::chrono::milliseconds(0));
  engine.SetFraming(product.framing, product.chunkSize);
  if (phases != 2) fuzz::RunPhase(Phase::Write, engine, link, wire, product);
  if (phases != 1) fuzz::RunPhase(Phase::ReadBack, engine, link, wire, product);
  engine.SetLink(nullptr);
  return 0;
}
