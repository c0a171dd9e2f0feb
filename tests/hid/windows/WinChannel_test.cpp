// The overlapped report I/O, over a named pipe whose far end the test holds itself.
#include "hid/windows/WinChannel.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace quarnel::win {
namespace {

using hid::IoStatus;

// A message pipe: the test's end plus a channel over the other end.
struct PipePair {
  explicit PipePair(DWORD bufferSize = 4096) {
    static std::atomic<unsigned> next{0};
    const std::string name = "\\\\.\\pipe\\quarnel-channel-test-" +
                             std::to_string(GetCurrentProcessId()) + "-" + std::to_string(next++);
    peer = UniqueHandle(CreateNamedPipeA(name.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                         PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE, 1, bufferSize,
                                         bufferSize, 0, nullptr));
    EXPECT_TRUE(peer.valid());
    InterfaceHandles h;
    h.read = UniqueHandle(CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr));
    EXPECT_TRUE(h.read.valid());
    DWORD mode = PIPE_READMODE_MESSAGE;
    EXPECT_TRUE(SetNamedPipeHandleState(h.read.get(), &mode, nullptr, nullptr));
    HANDLE dup = nullptr;
    EXPECT_TRUE(DuplicateHandle(GetCurrentProcess(), h.read.get(), GetCurrentProcess(), &dup, 0,
                                FALSE, DUPLICATE_SAME_ACCESS));
    h.write = UniqueHandle(dup);
    auto made = MakeWinChannel(std::move(h), "test pipe");
    if (made) channel = std::move(made.value());
    EXPECT_NE(channel, nullptr) << (made ? "" : made.error().detail);
  }

  // Sends one message from the far end.
  void Send(const std::vector<std::uint8_t>& bytes) {
    OVERLAPPED o{};
    UniqueHandle event(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    o.hEvent = event.get();
    DWORD n = 0;
    if (!WriteFile(peer.get(), bytes.data(), static_cast<DWORD>(bytes.size()), nullptr, &o)) {
      ASSERT_EQ(GetLastError(), DWORD{ERROR_IO_PENDING});
    }
    ASSERT_TRUE(GetOverlappedResult(peer.get(), &o, &n, TRUE));
    EXPECT_EQ(n, bytes.size());
  }

  // Reads one message at the far end; false when the channel's end has gone.
  bool Receive(std::vector<std::uint8_t>& bytes) {
    OVERLAPPED o{};
    UniqueHandle event(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    o.hEvent = event.get();
    bytes.assign(256, 0);
    DWORD n = 0;
    if (!ReadFile(peer.get(), bytes.data(), 256, nullptr, &o) && GetLastError() != ERROR_IO_PENDING)
      return false;
    if (!GetOverlappedResult(peer.get(), &o, &n, TRUE)) return false;
    bytes.resize(n);
    return true;
  }

  UniqueHandle peer;
  std::unique_ptr<hid::Channel> channel;
};

TEST(WinChannel, ReadGivesTheCountThatArrived) {
  PipePair pipe;
  pipe.Send({0, 1, 2, 3, 4, 5, 6, 7, 8, 9});
  Report report;
  report.fill(0xAA);
  const auto r = pipe.channel->Read(report, 64, 1000);
  ASSERT_EQ(r.status, IoStatus::Ok) << r.failure.detail;
  EXPECT_EQ(r.count, 10u);
  EXPECT_EQ(report[0], 0);
  EXPECT_EQ(report[9], 9);
  EXPECT_EQ(report[10], 0xAA);  // nothing beyond what arrived
}

TEST(WinChannel, TimedOutReadLosesNothingAndTouchesNothing) {
  PipePair pipe;
  Report report;
  report.fill(0xAA);
  const auto r = pipe.channel->Read(report, 64, 20);
  EXPECT_EQ(r.status, IoStatus::TimedOut);
  EXPECT_EQ(r.count, 0u);

  std::vector<std::uint8_t> later(64, 0x11);
  later[0] = 0;
  pipe.Send(later);
  EXPECT_TRUE(std::all_of(report.begin(), report.end(), [](auto b) { return b == 0xAA; }));
  Report next{};
  const auto again = pipe.channel->Read(next, 64, 1000);
  ASSERT_EQ(again.status, IoStatus::Ok) << again.failure.detail;
  EXPECT_EQ(again.count, 64u);
  EXPECT_EQ(next[63], 0x11);
}

TEST(WinChannel, WriteSendsTheOutputLength) {
  PipePair pipe;
  Report report{};
  for (std::size_t i = 1; i < report.size(); ++i) report[i] = static_cast<std::uint8_t>(i);
  const auto r = pipe.channel->Write(report, 9, 1000);
  ASSERT_EQ(r.status, IoStatus::Ok) << r.failure.detail;
  EXPECT_EQ(r.count, 9u);
  std::vector<std::uint8_t> got;
  ASSERT_TRUE(pipe.Receive(got));
  EXPECT_EQ(got, std::vector<std::uint8_t>(report.begin(), report.begin() + 9));
}

TEST(WinChannel, WriteThatCannotFinishFailsWithinItsLimit) {
  // No room in the pipe and nobody reading: the write cannot complete.
  PipePair pipe(0);
  Report report{};
  hid::IoResult r{IoStatus::Ok, 0, {}};
  for (int i = 0; i < 8 && r.status == IoStatus::Ok; ++i) r = pipe.channel->Write(report, 64, 30);
  // As on Linux: a write time-out, with the reason that ends the link.
  EXPECT_EQ(r.status, IoStatus::TimedOut);
  EXPECT_EQ(r.failure.kind, hid::FailureKind::TimedOut);
  EXPECT_NE(r.failure.detail.find("timed out"), std::string::npos) << r.failure.detail;
}

// Cancelled from another thread while it waits (limit: ten minutes), and for good; a report
// already there is still delivered.
TEST(WinChannel, CancelEndsWaitingTransfersAtOnce) {
  PipePair pipe(0);
  std::thread canceller([&] { pipe.channel->Cancel(); });
  Report in{};
  EXPECT_EQ(pipe.channel->Read(in, 64, 600000).status, IoStatus::Cancelled);
  canceller.join();
  Report report{};
  hid::IoResult r{IoStatus::Ok, 0, {}};
  for (int i = 0; i < 8 && r.status == IoStatus::Ok; ++i)
    r = pipe.channel->Write(report, 64, 600000);
  EXPECT_EQ(r.status, IoStatus::Cancelled);
}

TEST(WinChannel, ClosedFarEndFailsReadsWithAReason) {
  PipePair pipe;
  pipe.peer.reset();
  Report report{};
  const auto r = pipe.channel->Read(report, 64, 1000);
  EXPECT_EQ(r.status, IoStatus::Failed);
  EXPECT_EQ(r.failure.detail.rfind("test pipe: ", 0), 0u) << r.failure.detail;
  EXPECT_EQ(pipe.channel->Write(report, 64, 1000).status, IoStatus::Failed);
}

TEST(WinChannel, DestroyingTheChannelClosesEveryHandle) {
  PipePair pipe;
  pipe.channel.reset();
  std::vector<std::uint8_t> got;
  EXPECT_FALSE(pipe.Receive(got));  // the far end sees the pipe broken
}

}  // namespace
}  // namespace quarnel::win
