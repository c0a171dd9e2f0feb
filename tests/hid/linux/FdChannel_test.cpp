#include "hid/linux/FdChannel.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>
#include <vector>

namespace quarnel::hid {
namespace {

// A channel on one end of a socket pair that carries one report per packet, as a hidraw
// node does; the test plays the device on the other end.
class FdChannelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    int fds[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, fds), 0);
    channel_ = MakeFdChannel(fds[0], "node");
    channelFd_ = fds[0];
    peer_ = fds[1];
  }
  void TearDown() override { ClosePeer(); }

  void ClosePeer() {
    if (peer_ >= 0) ::close(peer_);
    peer_ = -1;
  }
  void Send(std::vector<std::uint8_t> bytes) {
    ASSERT_EQ(::send(peer_, bytes.data(), bytes.size(), 0), static_cast<ssize_t>(bytes.size()));
  }

  std::unique_ptr<Channel> channel_;
  int channelFd_ = -1;  // owned by channel_
  int peer_ = -1;
};

TEST_F(FdChannelTest, ReadPutsTheReportAfterAZeroIdByteAndCountsIt) {
  Report r;
  r.fill(0xAA);
  Send({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17});
  const IoResult got = channel_->Read(r, 64, 1000);
  ASSERT_EQ(got.status, IoStatus::Ok) << got.failure.detail;
  EXPECT_EQ(got.count, 18u);
  EXPECT_EQ(r[0], 0);
  EXPECT_EQ(r[1], 1);
  EXPECT_EQ(r[17], 17);
  EXPECT_EQ(r[18], 0);  // nothing of the earlier contents behind the report
  EXPECT_EQ(r[63], 0);

  Send(std::vector<std::uint8_t>(63, 0x5A));  // a full report
  ASSERT_EQ(channel_->Read(r, 64, 1000).count, 64u);
  EXPECT_EQ(r[63], 0x5A);

  Send(std::vector<std::uint8_t>(63, 0x11));  // longer than asked for: cut to the length
  EXPECT_EQ(channel_->Read(r, 9, 1000).count, 9u);
}

TEST_F(FdChannelTest, TimeOutLeavesTheChannelUsable) {
  Report r{};
  EXPECT_EQ(channel_->Read(r, 64, 10).status, IoStatus::TimedOut);
  Send({0x42});
  const IoResult got = channel_->Read(r, 64, 1000);
  EXPECT_EQ(got.status, IoStatus::Ok);
  EXPECT_EQ(r[1], 0x42);
}

TEST_F(FdChannelTest, HangUpFailsOnlyOnceThePendingReportsAreRead) {
  Report r{};
  Send({7});
  ClosePeer();
  EXPECT_EQ(channel_->Read(r, 64, 1000).status, IoStatus::Ok);
  const IoResult gone = channel_->Read(r, 64, 1000);
  EXPECT_EQ(gone.status, IoStatus::Failed);
  EXPECT_NE(gone.failure.detail.find("node"), std::string::npos) << gone.failure.detail;
  EXPECT_EQ(gone.count, 0u);
}

TEST_F(FdChannelTest, WriteSendsTheReportIdByteAndTheLength) {
  Report r{};
  r[1] = 0x33;
  r[63] = 0x44;
  const IoResult put = channel_->Write(r, 64, 1000);
  ASSERT_EQ(put.status, IoStatus::Ok) << put.failure.detail;
  EXPECT_EQ(put.count, 64u);
  std::uint8_t packet[128];
  ASSERT_EQ(::recv(peer_, packet, sizeof packet, 0), 64);
  EXPECT_EQ(packet[0], 0);
  EXPECT_EQ(packet[1], 0x33);
  EXPECT_EQ(packet[63], 0x44);
}

// What waits is read without waiting, in order; the request sent right after the look that
// found nothing goes out, unless the channel was cancelled in between.
TEST_F(FdChannelTest, WaitingReportsAreReadWithoutWaitingAndTheNextWriteStillCancels) {
  Report r{};
  Send({1});
  Send({2});
  EXPECT_EQ(channel_->ReadWaiting(r, 64).status, IoStatus::Ok);
  EXPECT_EQ(r[1], 1);
  EXPECT_EQ(channel_->ReadWaiting(r, 64).status, IoStatus::Ok);
  EXPECT_EQ(r[1], 2);
  EXPECT_EQ(channel_->ReadWaiting(r, 64).status, IoStatus::TimedOut);
  ASSERT_EQ(channel_->Write(r, 64, 1000).status, IoStatus::Ok);
  std::uint8_t packet[128];
  EXPECT_EQ(::recv(peer_, packet, sizeof packet, MSG_DONTWAIT), 64);

  EXPECT_EQ(channel_->ReadWaiting(r, 64).status, IoStatus::TimedOut);
  channel_->Cancel();
  EXPECT_EQ(channel_->Write(r, 64, 1000).status, IoStatus::Cancelled);
  EXPECT_EQ(::recv(peer_, packet, sizeof packet, MSG_DONTWAIT), -1);
}

TEST_F(FdChannelTest, WriteToAVanishedPeerFails) {
  ClosePeer();
  const IoResult put = channel_->Write(Report{}, 64, 1000);
  EXPECT_EQ(put.status, IoStatus::Failed);
  EXPECT_FALSE(put.failure.detail.empty());
}

TEST_F(FdChannelTest, WriteTimesOutWhenThePeerTakesNothing) {
  // Fill the send queue of the channel's end until it takes no more.
  int size = 4096;
  ASSERT_EQ(::setsockopt(channelFd_, SOL_SOCKET, SO_SNDBUF, &size, sizeof size), 0);
  const Report r{};
  int sent = 0;
  while (sent < 10000 && ::send(channelFd_, r.data(), r.size(), MSG_DONTWAIT) > 0) ++sent;
  ASSERT_LT(sent, 10000);
  const IoResult late = channel_->Write(r, 64, 10);
  EXPECT_EQ(late.status, IoStatus::TimedOut);
  EXPECT_EQ(late.failure.kind, FailureKind::TimedOut);  // as on Windows: the link's end
  // Cancelled from another thread while it waits (limit: ten minutes), and for good.
  std::thread canceller([this] { channel_->Cancel(); });
  EXPECT_EQ(channel_->Write(r, 64, 600000).status, IoStatus::Cancelled);
  canceller.join();
  Report in{};
  EXPECT_EQ(channel_->Read(in, 64, 600000).status, IoStatus::Cancelled);
}

}  // namespace
}  // namespace quarnel::hid
