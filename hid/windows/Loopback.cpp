// The loopback on Windows: a message-mode named pipe, one report per message. The link's end
// is read and written by the same overlapped I/O code as a HID interface; the far end is
// served on its own thread.
#include "hid/Loopback.h"

#include <atomic>
#include <string>
#include <thread>

#include "base/windows/WinError.h"
#include "hid/ServedChannel.h"
#include "hid/windows/WinChannel.h"

namespace quarnel::hid {

namespace {

using win::UniqueHandle;

class Server {
 public:
  Server(UniqueHandle pipe, UniqueHandle ioEvent, UniqueHandle stopEvent,
         std::shared_ptr<ReportServer> server)
      : pipe_(std::move(pipe)),
        ioEvent_(std::move(ioEvent)),
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
  enum class Wait : std::uint8_t { Done, Failed, Stopped };

  // Waits for the pending transfer on the pipe, or for the link to go away.
  Wait Finish(OVERLAPPED& overlapped, DWORD& count) {
    const HANDLE events[] = {ioEvent_.get(), stopEvent_.get()};
    if (WaitForMultipleObjects(2, events, FALSE, INFINITE) != WAIT_OBJECT_0) {
      CancelIoEx(pipe_.get(), &overlapped);
      GetOverlappedResult(pipe_.get(), &overlapped, &count, TRUE);
      return Wait::Stopped;
    }
    return GetOverlappedResult(pipe_.get(), &overlapped, &count, FALSE) ? Wait::Done : Wait::Failed;
  }

  Wait Transfer(bool reading, std::uint8_t* data, DWORD size, DWORD& count) {
    OVERLAPPED overlapped{};
    overlapped.hEvent = ioEvent_.get();  // reset by ReadFile and WriteFile
    const BOOL started = reading ? ReadFile(pipe_.get(), data, size, nullptr, &overlapped)
                                 : WriteFile(pipe_.get(), data, size, nullptr, &overlapped);
    if (!started && GetLastError() != ERROR_IO_PENDING) return Wait::Failed;
    return Finish(overlapped, count);
  }

  void Serve() {
    std::uint8_t packet[kReportSize + 1];
    for (;;) {
      DWORD n = 0;
      // Fails once the link has closed its end.
      if (Transfer(true, packet, sizeof packet, n) != Wait::Done) return;
      const ServedAnswer out = server_->Serve(std::span(packet, n));
      const DWORD delayMs = out.delayMs + (out.delayUs + 999) / 1000;
      if (delayMs != 0 && WaitForSingleObject(stopEvent_.get(), delayMs) != WAIT_TIMEOUT) return;
      for (Report answer : out.answers) {
        // Input reports travel with their report-ID byte, as a HID read delivers them.
        DWORD written = 0;
        if (Transfer(false, answer.data(), kReportSize, written) != Wait::Done) return;
      }
      if (out.vanish) {
        // The unit is gone: once the link has read what was sent, its reads and writes fail.
        pipe_.reset();
        return;
      }
    }
  }

  UniqueHandle pipe_;
  UniqueHandle ioEvent_;
  UniqueHandle stopEvent_;
  std::shared_ptr<ReportServer> server_;
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
  UniqueHandle ioEvent(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  UniqueHandle stopEvent(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  if (!ioEvent.valid() || !stopEvent.valid()) return fail("CreateEvent");
  auto channel = win::MakeWinChannel(std::move(link), "emulated device");
  if (!channel) return channel;
  auto serving = std::make_unique<Server>(std::move(pipe), std::move(ioEvent), std::move(stopEvent),
                                          std::move(server));
  return std::unique_ptr<Channel>(
      std::make_unique<ServedChannel>(std::move(channel.value()), std::move(serving)));
}

}  // namespace quarnel::hid
