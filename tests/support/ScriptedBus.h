// A bus with one interface whose answers the test queues by hand, and which records every
// report written to it. Runs on the test's thread: no transport, no timing.
#pragma once

#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

#include "hid/DeviceBus.h"

namespace quarnel::testing {

struct Script {
  // Reports that come after the next request is sent: report and count.
  std::deque<std::pair<Report, std::uint32_t>> answers;
  // Reports already waiting when the next request is sent: a read takes them first, a drain
  // drops them.
  std::deque<std::pair<Report, std::uint32_t>> waiting;
  std::vector<Report> written;
  bool failWrites = false;
  bool failReads = false;                // the unit is gone: reads fail
  std::atomic<int> writeCalls{0};        // safe to watch from another thread
  std::vector<std::uint32_t> readWaits;  // how long each read was allowed to wait, in ms
  std::function<void()> onRead;          // called at each read, before it is answered
};

class ScriptedBus final : public hid::Bus {
 public:
  ScriptedBus(std::uint16_t vendorId, std::uint16_t productId, std::shared_ptr<Script> script)
      : vendorId_(vendorId), productId_(productId), script_(std::move(script)) {}

  std::vector<hid::InterfaceInfo> Enumerate() override {
    return {{"scripted", "scripted", vendorId_, productId_}};
  }
  Result<hid::OpenedInterface, hid::LinkFailure> Open(const hid::InterfaceInfo&) override {
    hid::OpenedInterface out;
    out.channel = std::make_unique<ScriptChannel>(script_);
    out.inputLength = 64;
    out.outputLength = 64;
    return out;
  }

 private:
  class ScriptChannel final : public hid::Channel {
   public:
    explicit ScriptChannel(std::shared_ptr<Script> s) : s_(std::move(s)) {}
    hid::IoResult Read(Report& report, std::uint32_t length, std::uint32_t timeoutMs) override {
      s_->readWaits.push_back(timeoutMs);
      if (s_->onRead) s_->onRead();
      if (s_->failReads)
        return {hid::IoStatus::Failed, 0, {hid::FailureKind::Gone, "scripted", "scripted: gone"}};
      if (!s_->waiting.empty()) return ReadWaiting(report, length);
      return Take(s_->answers, report);
    }
    hid::IoResult ReadWaiting(Report& report, std::uint32_t) override {
      return Take(s_->waiting, report);
    }
    hid::IoResult Write(const Report& report, std::uint32_t length, std::uint32_t) override {
      ++s_->writeCalls;
      if (s_->failWrites)
        return {hid::IoStatus::Failed,
                0,
                {hid::FailureKind::IoError, "scripted", "scripted write failure"}};
      s_->written.push_back(report);
      return {hid::IoStatus::Ok, length, {}};
    }

   private:
    static hid::IoResult Take(std::deque<std::pair<Report, std::uint32_t>>& from, Report& report) {
      if (from.empty()) return {hid::IoStatus::TimedOut, 0, {}};
      auto [answer, count] = from.front();
      from.pop_front();
      report = answer;
      return {hid::IoStatus::Ok, count, {}};
    }

    std::shared_ptr<Script> s_;
  };

  std::uint16_t vendorId_;
  std::uint16_t productId_;
  std::shared_ptr<Script> script_;
};

}  // namespace quarnel::testing
