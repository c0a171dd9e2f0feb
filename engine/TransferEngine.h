// The transfer engine: one worker thread per phase that streams the image to the EEPROM
// and back, one request and one accepted answer at a time.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <span>
#include <thread>

#include "engine/FirmwareImage.h"
#include "engine/Reports.h"
#include "hid/HidApp.h"

namespace quarnel {

// The read-back buffer holds the whole EEPROM.
inline constexpr std::size_t kReadBackSize = kEepromSize;
// The device needs this long after each accepted write before it takes the next one.
inline constexpr std::uint32_t kWritePauseMs = 4;
// How long an idle worker sleeps between looks at its flags.
inline constexpr std::uint32_t kIdlePauseMs = 2;

enum class Phase : std::uint8_t { Write, ReadBack };

// The state of one transfer phase, shared by the user-interface thread and the worker.
// The user-interface thread writes every member before the worker starts; while it runs,
// it only reads `running`, `finished` and `progress`, and StopWorker writes `finished` then
// `running`. The read-back buffer is read only after the worker has been joined.
struct TransferState {
  std::uint8_t alternateFraming = 0;
  std::uint16_t chunkSize = kStandardChunk;
  std::uint8_t deviceOpen = 0;
  std::atomic<std::uint8_t> running{0};
  std::atomic<std::uint8_t> finished{1};
  std::uint8_t verifyPending = 0;
  std::thread workerThread;
  std::uint32_t workerThreadId = 0;
  std::uint32_t mode = 1;     // 0 read-back, 1 write
  std::uint32_t sendDue = 1;  // 1: send the next request; 0: an answer is awaited
  std::uint8_t sequence = 1;
  std::uint8_t command = kCommandWrite;
  std::array<std::uint8_t, kReadBackSize> readBack{};
  std::uint8_t control = kControlWrite;
  std::uint8_t deviceAddress = kEepromAddress;
  std::uint16_t startAddress = 0;
  std::uint16_t endAddress = 0;
  std::uint16_t currentAddress = 0;

  // Latest progress bar position set by the worker (-1: none yet this phase).
  std::atomic<int> progress{-1};
  // Bytes of this phase sent (write) or received (read-back) so far, set by the worker.
  std::atomic<std::uint32_t> bytesDone{0};
  // Answers accepted so far; each one moves the phase on by one chunk.
  std::atomic<std::uint32_t> accepted{0};
  // Set by the worker: the link died before the phase was complete.
  std::atomic<std::uint8_t> linkLost{0};
  // Set by the worker while it reads on after a read phase's last chunk: nothing is to move.
  std::atomic<std::uint8_t> settling{0};
  // Set by the worker with `finished`: the read phase's answers were not those of their
  // requests (no two answers in a row agreed on a chunk, or more answers came than the
  // phase's requests and a single repeated one account for).
  std::atomic<std::uint8_t> outOfStep{0};
};

// What front ends and tests may see of a phase; safe to take while the worker runs.
struct TransferSnapshot {
  Phase phase = Phase::Write;
  Framing framing = Framing::Standard;
  std::uint16_t chunkSize = kStandardChunk;
  std::uint32_t bytesDone = 0;
  std::uint32_t totalBytes = 0;
  int progress = -1;  // the progress bar's position, 0-100; -1 none yet this phase
  std::uint32_t accepted = 0;
  bool running = false;
  bool finished = true;
  bool linkLost = false;   // the link died before the phase was complete
  bool settling = false;   // all bytes are in; the worker reads on for answers left over
  bool outOfStep = false;  // with finished: the phase's answers went out of step
  // The next sequence number; only while no worker runs (0 while one does).
  std::uint8_t sequence = 0;
};

class TransferEngine {
 public:
  explicit TransferEngine(std::span<const std::uint8_t> image = FirmwareImage());
  ~TransferEngine();
  TransferEngine(const TransferEngine&) = delete;
  TransferEngine& operator=(const TransferEngine&) = delete;

  std::span<const std::uint8_t> image() const { return image_; }
  Framing framing() const {
    return state_.alternateFraming != 0 ? Framing::Alternate : Framing::Standard;
  }
  TransferSnapshot Snapshot() const;
  // The bytes read back by the last read-back phase; read only while no worker runs.
  std::span<const std::uint8_t> ReadBack() const { return state_.readBack; }

  // The state a fresh dialog starts with: no device, sequence number 1, nothing running.
  void Reset();
  // The framing and chunk size of the unit that answered.
  void SetFraming(Framing framing, std::uint16_t chunkSize);
  void SetDeviceOpen(bool open) { state_.deviceOpen = open ? 1 : 0; }
  bool deviceOpen() const { return state_.deviceOpen != 0; }
  // True once after a write phase has been set up: its read-back is still to come.
  bool TakeVerifyPending();

  // The device link the steps talk to; owned by the caller.
  void SetLink(CHidApp* link) { link_ = link; }
  void SetPauses(std::uint32_t writePauseMs, std::uint32_t idlePauseMs);
  // How long the alternate framing waits for answers after a read phase's last one, at least.
  void SetStragglerWait(std::chrono::milliseconds least) { stragglerLeast_ = least; }
  // ReadRegister gives up retrying once this moment has passed (default: never).
  void SetRegisterDeadline(std::chrono::steady_clock::time_point deadline) { deadline_ = deadline; }
  // ReadRegister also gives up once this flag is raised (for Ctrl-C on a console).
  void SetAbortFlag(const std::atomic<bool>* flag) { abort_ = flag; }

  // One register transaction with bounded retries; value is 0xFF unless found. It uses up its
  // sequence number whatever happens, also with no link (when it sends nothing).
  bool ReadRegister(std::uint8_t reg, std::uint8_t parameter, std::uint8_t& value);
  void SendTransferRequest(std::uint8_t sequence, std::uint8_t command, std::uint8_t control,
                           std::uint8_t deviceAddress, std::uint16_t address, std::uint8_t length,
                           const std::uint8_t* data);

  // Sets up every member for a phase (the read-back buffer is cleared for ReadBack).
  void SetupPhase(Phase phase);
  // Creates the worker; false when no thread could be made.
  bool StartWorker();
  // Asks the worker to leave, cancels the link's waiting read or write and waits for the
  // worker; with none running, only marks the phase as ended.
  void JoinWorker();

  void WriteStep();
  void ReadBackStep();
  static void WorkerProc(TransferEngine* engine);

 private:
  std::uint8_t ChunkLength() const;
  // The request for the chunk at the current address, carrying `data` (null: none); its
  // length, 0 when nothing is left. An answer is awaited next.
  std::uint8_t SendChunk(const std::uint8_t* data);
  // Counts an accepted answer: its time, the next sequence number.
  void TakeAnswer();
  // After an accepted answer: the next request, or the end of the phase.
  void NextOrFinish();
  // The alternate framing's read answers carry no address: the chunk's bytes are taken once
  // two answers in a row agree on them. True when `data` is proven; otherwise the chunk is
  // asked for again, or the phase ends out of step once it has been asked too often.
  bool Proven(std::span<const std::uint8_t> data);
  void PauseAfterWrite();
  void SetProgress(int base);
  // Notes how long the accepted answer took since its request went out.
  void NoteAnswerTime();
  // The alternate framing's answers carry no sequence number: after a read phase's last
  // proven chunk, reads on for a while and counts what comes as extra answers. False when the
  // link died meanwhile: the phase is not complete.
  bool AwaitStragglers();
  // An answer of a read phase in the alternate framing that no request was waiting for (found
  // waiting before a request, or after the phase's last): beyond the one a single repeated
  // answer makes, the phase is out of step. True when it is.
  bool NoteExtraAnswer();

  TransferState state_;
  std::span<const std::uint8_t> image_;
  CHidApp* link_ = nullptr;
  std::uint32_t writePauseMs_ = kWritePauseMs;
  std::uint32_t idlePauseMs_ = kIdlePauseMs;
  std::chrono::steady_clock::time_point deadline_ = std::chrono::steady_clock::time_point::max();
  const std::atomic<bool>* abort_ = nullptr;
  std::chrono::steady_clock::duration lateness_ = std::chrono::microseconds(50);
  std::chrono::milliseconds stragglerLeast_{50};
  std::chrono::steady_clock::time_point sentAt_{};
  // The answer last taken for the chunk at the current address, and how often it was asked.
  std::array<std::uint8_t, kAlternateChunk> candidate_{};
  bool haveCandidate_ = false;
  std::uint32_t asks_ = 0;
  // Extra answers of this read phase so far, and whether its first request has gone out.
  std::uint32_t extras_ = 0;
  bool askedYet_ = false;
  std::chrono::steady_clock::duration longestAnswer_{};
};

}  // namespace quarnel
