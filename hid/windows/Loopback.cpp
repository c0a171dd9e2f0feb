// The loopback on Windows: a message-mode named pipe, one report per message. The link's end
// is read and written by the same overlapped I/O code as a HID interface; the far end is
// served on its own thread, each answer sent when the unit's timing says.
#include "hid/Loopback.h"

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "base/windows/WinError.h"
#include "hid/AnswerSchedule.h"
#include "hid/ServedChannel.h"
#include "hid/windows/WinChannel.h"

namespace quarnel::hid {

namespace {

using win::UniqueHandle;

class Server {
 public:
  Server(UniqueHandle pipe, UniqueHandle readEvent, UniqueHandle writeEvent, UniqueHandle stopEvent,
         std::shared_ptr<ReportServer> server)
      : pipe_(std::move(pipe)),
        readEvent_(std::move(readEvent)),
        writeEvent_(std::move(writeEvent)),
        stopEvent_(std::move(stopEvent)),
        server_(std::move(server)),
        thread_([this] { Serve(); }) {}
  ~Server() {
    SetEvent(stopEvent_.get());
    thread_.join();
  }
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

 private:
  using Clock = AnswerSchedule::Clock;
  enum class Wait : std::uint8_t { Done, TimedOut, Failed, Stopped };

  // Waits up to `ms` for the pending transfer on the pipe, or for the link to go away.
  Wait Finish(OVERLAPPED& overlapped, DWORD& count, DWORD ms) {
    const HANDLE events[] = {overlapped.hEvent, stopEvent_.get()};
    const DWORD got = WaitForMultipleObjects(2, events, FALSE, ms);
    if (got == WAIT_TIMEOUT) return Wait::TimedOut;
    if (got != WAIT_OBJECT_0) return Wait::Stopped;
    return GetOverlappedResult(pipe_.get(), &overlapped, &count, FALSE) ? Wait::Done : Wait::Failed;
  }

  // The pending read ends before its buffer and record go.
  void CancelRead() {
    if (!reading_) return;
    DWORD count = 0;
    CancelIoEx(pipe_.get(), &read_);
    GetOverlappedResult(pipe_.get(), &read_, &count, TRUE);
    reading_ = false;
  }

  bool StartRead() {
    if (reading_) return true;
    read_ = OVERLAPPED{};
    read_.hEvent = readEvent_.get();  // reset by ReadFile
    if (!ReadFile(pipe_.get(), packet_, sizeof packet_, nullptr, &read_) &&
        GetLastError() != ERROR_IO_PENDING)
      return false;  // the link has closed its end
    reading_ = true;
    return true;
  }

  bool Send(Report answer) {
    OVERLAPPED write{};
    write.hEvent = writeEvent_.get();
    DWORD written = 0;
    // Input reports travel with their report-ID byte, as a HID read delivers them.
    if (!WriteFile(pipe_.get(), answer.data(), kReportSize, nullptr, &write) &&
        GetLastError() != ERROR_IO_PENDING)
      return false;
    if (Finish(write, written, INFINITE) == Wait::Done) return true;
    CancelIoEx(pipe_.get(), &write);
    GetOverlappedResult(pipe_.get(), &write, &written, TRUE);
    return false;
  }

  // Sends the answers that are due; false once the unit has vanished or the link is gone.
  bool SendDue(AnswerSchedule& schedule) {
    while (auto entry = schedule.TakeDue(Clock::now())) {
      if (entry->report && !Send(*entry->report)) return false;
      if (entry->vanish) {
        // The unit is gone: once the link has read what was sent, its reads and writes fail.
        CancelRead();
        pipe_.reset();
        return false;
      }
    }
    return true;
  }

  // How long to wait for the next report: until the next answer is due, in whole
  // milliseconds; under one, the wait only looks (the rest passes in short turns).
  static DWORD WaitMs(const AnswerSchedule& schedule) {
    if (schedule.empty()) return INFINITE;
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(schedule.next() - Clock::now());
    return left.count() <= 0 ? 0 : static_cast<DWORD>(left.count());
  }

  // Takes each report as it comes and sends each answer when it is due, until the link closes
  // its end, the unit vanishes or the link is being closed.
  void Serve() {
    AnswerSchedule schedule;
    for (;;) {
      if (!SendDue(schedule) || !StartRead()) break;
      const DWORD ms = WaitMs(schedule);
      DWORD n = 0;
      const Wait got = Finish(read_, n, ms);
      if (got == Wait::TimedOut) {
        if (ms == 0) SwitchToThread();
        continue;
      }
      if (got != Wait::Done) break;
      reading_ = false;
      schedule.Add(server_->Serve(std::span(packet_, n)), Clock::now());
    }
    CancelRead();
  }

  UniqueHandle pipe_;
  UniqueHandle readEvent_;
  UniqueHandle writeEvent_;
  UniqueHandle stopEvent_;
  std::shared_ptr<ReportServer> server_;
  OVERLAPPED read_{};
  bool reading_ = false;
  std::uint8_t packet_[kReportSize + 1]{};
  std::thread thread_;
};

std::string UniquePipeName() {
  static std::atomic<unsigned> next{0};
  return "\\\\.\\pipe\\quarnel-emulated-" + std::to_string(GetCurrentProcessId()) + "-" +
         std::to_string(next++);
}

}  // namespace

ChannelResult OpenLoopback(std::shared_ptr<ReportServer> server) {
  const std::string name = UniquePipeName();
  const auto fail = [](const char* what) {
    return Fail(LinkFailure{FailureKind::OutOfResources, "loopback",
                            "emulated device: " + win::LastErrorText(what)});
  };
  UniqueHandle pipe(CreateNamedPipeA(
      name.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
      PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1, 4096, 4096, 0, nullptr));
  if (!pipe.valid()) return fail("CreateNamedPipe");
  win::InterfaceHandles link;
  link.read = UniqueHandle(CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                       OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr));
  if (!link.read.valid()) return fail("opening the pipe");
  DWORD mode = PIPE_READMODE_MESSAGE;
  if (!SetNamedPipeHandleState(link.read.get(), &mode, nullptr, nullptr))
    return fail("SetNamedPipeHandleState");
  // Reads and writes go through handles of their own, as on a HID interface.
  HANDLE write = nullptr;
  if (!DuplicateHandle(GetCurrentProcess(), link.read.get(), GetCurrentProcess(), &write, 0, FALSE,
                       DUPLICATE_SAME_ACCESS))
    return fail("DuplicateHandle");
  link.write = UniqueHandle(write);
  UniqueHandle readEvent(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  UniqueHandle writeEvent(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  UniqueHandle stopEvent(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  if (!readEvent.valid() || !writeEvent.valid() || !stopEvent.valid()) return fail("CreateEvent");
  auto channel = win::MakeWinChannel(std::move(link), "emulated device");
  if (!channel) return channel;
  auto serving =
      std::make_unique<Server>(std::move(pipe), std::move(readEvent), std::move(writeEvent),
                               std::move(stopEvent), std::move(server));
  return std::unique_ptr<Channel>(
      std::make_unique<ServedChannel>(std::move(channel.value()), std::move(serving)));
}

}  // namespace quarnel::hid
