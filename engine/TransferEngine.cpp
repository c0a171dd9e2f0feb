#include "engine/TransferEngine.h"

#include <algorithm>
#include <functional>
#include <system_error>

#include "engine/WorkerTiming.h"

namespace quarnel {

namespace {

// A register read sends its request up to 100 times and reads up to 100 answers after each
// send, so that a unit still busy with earlier answers is waited out. The cost of a silent
// unit is 100 x 100 reads at the link's read time-out each (5 s by default: about 14 hours),
// unless the deadline or the abort flag ends it sooner; on a dead link every call returns at
// once and the 10000 passes take no time.
constexpr int kSends = 100;
constexpr int kReadsPerSend = 100;
// A register read waits for its answer in slices this long, so that it sees the abort flag
// soon after it is raised.
constexpr std::uint32_t kRegisterSliceMs = 50;
// A chunk of the alternate framing is asked for at most this often. Two asks prove it; a
// repeated answer and a lost one within the same chunk cost up to three more.
constexpr std::uint32_t kMostAsks = 6;
// A read phase of the alternate framing sees at most this many answers that no request was
// waiting for when its unit repeats at most one answer. More mean that answers may have been
// taken two requests late, where two in a row can agree on the wrong chunk.
constexpr std::uint32_t kMostExtraAnswers = 1;

void Pause(std::uint32_t ms) {
  if (ms != 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

}  // namespace

// The pause after each accepted write is the device's own need and is paid 1536 times per
// update: a plain sleep oversleeps by the scheduler's slack each time. The worker asks for
// prompt wake-ups, sleeps to just before the deadline (by how late wake-ups have recently
// been) and yields for the rest; the pause is never shorter than asked. The rest is waited out
// awake, so how much of it there may be is bounded: on a busy machine, where wake-ups come
// late anyway, yielding would only burn the time it was meant to save.
void TransferEngine::PauseAfterWrite() {
  using Clock = std::chrono::steady_clock;
  constexpr auto kMargin = std::chrono::microseconds(20);
  constexpr auto kMostAwake = std::chrono::microseconds(200);
  if (writePauseMs_ == 0) return;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(writePauseMs_);
  const Clock::time_point wake = deadline - lateness_ - kMargin;
  if (wake > Clock::now()) {
    std::this_thread::sleep_until(wake);
    const auto late = Clock::now() - wake;
    lateness_ = std::min<Clock::duration>((lateness_ * 7 + late) / 8, kMostAwake - kMargin);
  }
  while (Clock::now() < deadline) std::this_thread::yield();
}

TransferEngine::TransferEngine(std::span<const std::uint8_t> image) : image_(image) {}

TransferEngine::~TransferEngine() {
  JoinWorker();
}

void TransferEngine::Reset() {
  TransferState& s = state_;
  s.deviceOpen = 0;
  s.sequence = 1;
  s.running = 0;
  s.finished = 1;
  s.verifyPending = 0;
  s.workerThreadId = 0;
}

void TransferEngine::SetFraming(Framing framing, std::uint16_t chunkSize) {
  state_.alternateFraming = framing == Framing::Alternate ? 1 : 0;
  state_.chunkSize = chunkSize;
}

bool TransferEngine::TakeVerifyPending() {
  const bool pending = state_.verifyPending != 0;
  state_.verifyPending = 0;
  return pending;
}

TransferSnapshot TransferEngine::Snapshot() const {
  const TransferState& s = state_;
  TransferSnapshot snap;
  snap.phase = s.mode == 0 ? Phase::ReadBack : Phase::Write;
  snap.framing = framing();
  snap.chunkSize = s.chunkSize;
  snap.bytesDone = s.bytesDone.load();
  snap.totalBytes = static_cast<std::uint32_t>(s.endAddress - s.startAddress + 1);
  snap.progress = s.progress.load();
  snap.accepted = s.accepted.load();
  snap.running = s.running.load() != 0;
  snap.finished = s.finished.load() != 0;
  snap.linkLost = s.linkLost.load() != 0;
  snap.outOfStep = s.outOfStep.load() != 0;
  snap.settling = s.settling.load() != 0;
  if (!s.workerThread.joinable()) snap.sequence = s.sequence;
  return snap;
}

void TransferEngine::SetPauses(std::uint32_t writePauseMs, std::uint32_t idlePauseMs) {
  writePauseMs_ = writePauseMs;
  idlePauseMs_ = idlePauseMs;
}

bool TransferEngine::ReadRegister(std::uint8_t reg, std::uint8_t parameter, std::uint8_t& value) {
  value = 0xFF;
  bool found = false;
  const std::uint8_t sequence = state_.sequence;
  const Report request = BuildRegisterRequest(sequence, reg, parameter);
  const auto expired = [this] {
    return (abort_ != nullptr && abort_->load()) || std::chrono::steady_clock::now() > deadline_;
  };
  for (int send = 0; link_ != nullptr && send < kSends && !found && !expired(); ++send) {
    // Input from before this transaction never answers it; an answer to an earlier send of the
    // same request does, so only the first send drops what is waiting.
    if (send == 0) link_->Drain();
    link_->Write(request);
    for (int read = 0; read < kReadsPerSend && !found && !expired(); ++read) {
      Report answer{};
      const std::uint32_t timeout = link_->ReadTimeoutMs();
      for (std::uint32_t waited = 0, slice = 0; !expired(); waited += slice) {
        slice = std::min(kRegisterSliceMs, timeout - waited);
        if (link_->Read(answer, slice) != 0 || link_->Lost() || waited + slice >= timeout) break;
      }
      if (const auto v = AcceptRegisterAnswer(answer, sequence)) {
        value = *v;
        found = true;
      }
    }
  }
  state_.sequence = NextSequence(sequence);
  return found;
}

void TransferEngine::SendTransferRequest(std::uint8_t sequence, std::uint8_t command,
                                         std::uint8_t control, std::uint8_t deviceAddress,
                                         std::uint16_t address, std::uint8_t length,
                                         const std::uint8_t* data) {
  TransferRequest request{sequence, command, control, deviceAddress, address, length, {}};
  if (data != nullptr) request.data = std::span(data, length);
  link_->Write(BuildTransferRequest(framing(), request));
}

void TransferEngine::SetupPhase(Phase phase) {
  TransferState& s = state_;
  const bool write = phase == Phase::Write;
  s.command = write ? kCommandWrite : kCommandRead;
  s.control = write ? kControlWrite : kControlRead;
  s.deviceAddress = kEepromAddress;
  s.startAddress = 0;
  s.endAddress = static_cast<std::uint16_t>(image_.size() - 1);
  s.currentAddress = 0;
  s.mode = write ? 1 : 0;
  s.sendDue = 1;
  s.progress = -1;
  s.bytesDone = 0;
  s.linkLost = 0;
  s.outOfStep = 0;
  s.settling = 0;
  longestAnswer_ = {};
  haveCandidate_ = false;
  asks_ = 0;
  extras_ = 0;
  askedYet_ = false;
  if (write) {
    s.verifyPending = 1;
  } else {
    s.readBack.fill(0);
  }
  s.finished = 0;
  s.running = 1;
}

bool TransferEngine::StartWorker() {
  try {
    state_.workerThread = std::thread(WorkerProc, this);
  } catch (const std::system_error&) {
    return false;  // no thread could be made
  }
  state_.workerThreadId =
      static_cast<std::uint32_t>(std::hash<std::thread::id>{}(state_.workerThread.get_id()));
  return true;
}

void TransferEngine::JoinWorker() {
  state_.finished = 1;
  state_.running = 0;
  if (!state_.workerThread.joinable()) return;
  // A read waiting on a silent unit ends now, not at its time-out.
  if (link_ != nullptr) link_->Cancel();
  state_.workerThread.join();
  state_.workerThreadId = 0;
}

std::uint8_t TransferEngine::ChunkLength() const {
  const TransferState& s = state_;
  if (s.endAddress < s.currentAddress) return 0;
  return static_cast<std::uint8_t>(
      std::min<unsigned>(s.endAddress - s.currentAddress + 1u, s.chunkSize));
}

void TransferEngine::SetProgress(int base) {
  TransferState& s = state_;
  const int done = s.currentAddress - s.startAddress;
  const int total = s.endAddress - s.startAddress + 1;
  s.bytesDone = static_cast<std::uint32_t>(std::min(done, total));
  s.progress = done * 50 / total + base;
}

void TransferEngine::TakeAnswer() {
  TransferState& s = state_;
  NoteAnswerTime();
  s.sequence = NextSequence(s.sequence);
  ++s.accepted;
}

void TransferEngine::NextOrFinish() {
  TransferState& s = state_;
  if (s.currentAddress <= s.endAddress) {
    s.sendDue = 1;
  } else if (s.mode != 0 || AwaitStragglers()) {
    s.finished = 1;
  }
}

// Under one repeated answer, every answer is either the one to its own request or the one to
// the request before it. Asked twice in a row, the chunk's second answer is then always its
// own, save the repeated copy itself; two answers in a row that agree are the chunk's bytes.
bool TransferEngine::Proven(std::span<const std::uint8_t> data) {
  TransferState& s = state_;
  const bool agree = haveCandidate_ && std::equal(data.begin(), data.end(), candidate_.begin());
  ++asks_;
  if (agree) {
    haveCandidate_ = false;
    asks_ = 0;
    return true;
  }
  std::copy(data.begin(), data.end(), candidate_.begin());
  haveCandidate_ = true;
  if (asks_ < kMostAsks) {
    s.sendDue = 1;
  } else {
    s.outOfStep = 1;
    s.finished = 1;
  }
  return false;
}

std::uint8_t TransferEngine::SendChunk(const std::uint8_t* data) {
  TransferState& s = state_;
  const std::uint8_t length = ChunkLength();
  if (length != 0) {
    // Whatever is waiting came before this request: it must never be taken for its answer
    // (the alternate framing's answers carry nothing that would tell). In a read phase after
    // its first request, an answer found waiting is one more than the requests account for.
    const bool counting = framing() == Framing::Alternate && s.mode == 0 && askedYet_;
    bool outOfStep = false;
    link_->Drain(!counting ? CHidApp::Dropped{} : [&](const Report& report, std::uint32_t count) {
      if (AcceptReadAnswer(Framing::Alternate, report, count, s.sequence, s.chunkSize))
        outOfStep = NoteExtraAnswer() || outOfStep;
    });
    if (outOfStep) return 0;
    askedYet_ = true;
    const AddressSplit split = SplitAddress(s.control, s.currentAddress);
    SendTransferRequest(s.sequence, s.command, s.control,
                        static_cast<std::uint8_t>(s.deviceAddress | split.highBits), split.field,
                        length, data);
    sentAt_ = std::chrono::steady_clock::now();
  }
  s.sendDue = 0;
  return length;
}

void TransferEngine::WriteStep() {
  TransferState& s = state_;
  if (s.sendDue == 0) {
    Report answer{};
    const std::uint32_t count = link_->Read(answer);
    if (!AcceptWriteAnswer(framing(), answer, count, s.sequence)) return;
    TakeAnswer();
    PauseAfterWrite();
    NextOrFinish();
    return;
  }
  if (const std::uint8_t length = SendChunk(image_.data() + s.currentAddress); length != 0) {
    s.currentAddress = static_cast<std::uint16_t>(s.currentAddress + length);
    SetProgress(0);
  }
}

void TransferEngine::ReadBackStep() {
  TransferState& s = state_;
  if (s.sendDue == 0) {
    Report answer{};
    const std::uint32_t count = link_->Read(answer);
    const auto data = AcceptReadAnswer(framing(), answer, count, s.sequence, s.chunkSize);
    if (!data) return;
    TakeAnswer();
    // At most the bytes asked for are taken, whatever length the answer claims, and the
    // address moves on by as many as were taken; bytes beyond the read-back buffer are dropped.
    const std::size_t length = std::min<std::size_t>(data->length, ChunkLength());
    const std::size_t room =
        s.currentAddress < s.readBack.size() ? s.readBack.size() - s.currentAddress : 0;
    const auto first = answer.begin() + static_cast<std::ptrdiff_t>(data->offset);
    if (framing() == Framing::Alternate && !Proven(std::span(first, length))) return;
    std::copy_n(first, std::min(length, room), s.readBack.begin() + s.currentAddress);
    s.currentAddress = static_cast<std::uint16_t>(s.currentAddress + length);
    SetProgress(50);
    NextOrFinish();
    return;
  }
  SendChunk(nullptr);
}

void TransferEngine::NoteAnswerTime() {
  longestAnswer_ = std::max(longestAnswer_, std::chrono::steady_clock::now() - sentAt_);
}

bool TransferEngine::AwaitStragglers() {
  using Clock = std::chrono::steady_clock;
  TransferState& s = state_;
  if (framing() != Framing::Alternate) return true;
  const auto wait =
      std::min<Clock::duration>(std::max<Clock::duration>(stragglerLeast_, 4 * longestAnswer_),
                                std::chrono::milliseconds(link_->ReadTimeoutMs()));
  const Clock::time_point deadline = Clock::now() + wait;
  s.settling = 1;
  const struct Settled {
    TransferState& s;
    ~Settled() { s.settling = 0; }
  } settled{s};
  for (Clock::time_point now = Clock::now(); s.running != 0 && now < deadline; now = Clock::now()) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now);
    Report answer{};
    const std::uint32_t count = link_->Read(answer, static_cast<std::uint32_t>(left.count()));
    // A unit lost before the wait is over may have had more to send: nothing is proven.
    if (count == 0 && link_->Lost()) return false;
    if (AcceptReadAnswer(Framing::Alternate, answer, count, s.sequence, s.chunkSize) &&
        NoteExtraAnswer())
      return true;
  }
  return true;
}

bool TransferEngine::NoteExtraAnswer() {
  TransferState& s = state_;
  if (++extras_ <= kMostExtraAnswers) return false;
  s.outOfStep = 1;
  s.finished = 1;
  return true;
}

void TransferEngine::WorkerProc(TransferEngine* engine) {
  TransferState& s = engine->state_;
  PreferPromptWakeups();
  while (s.running != 0) {
    CHidApp* link = engine->link_;
    // A link that died before the phase was complete ends the run: the user-interface
    // thread sees `linkLost` on its next tick.
    if (s.finished == 0 && link != nullptr && link->Lost()) s.linkLost = 1;
    // A finished phase idles until stopped; so does a dead link, instead of spinning on
    // reads that fail at once.
    if (s.finished != 0 || link == nullptr || link->Lost()) {
      Pause(engine->idlePauseMs_ == 0 ? 1 : engine->idlePauseMs_);
    } else if (s.mode == 0) {
      engine->ReadBackStep();
    } else {
      engine->WriteStep();
    }
  }
}

}  // namespace quarnel
