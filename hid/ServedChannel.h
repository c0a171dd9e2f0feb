// The link's end of a loopback transport, owning whatever serves the far end.
#pragma once

#include <memory>

#include "hid/DeviceBus.h"

namespace quarnel::hid {

class ServedChannel final : public Channel {
 public:
  // `server` is any object whose destruction stops and joins the serving thread.
  ServedChannel(std::unique_ptr<Channel> link, std::shared_ptr<void> server)
      : link_(std::move(link)), server_(std::move(server)) {}
  ~ServedChannel() override {
    link_.reset();  // closing our end lets the server's thread finish
    server_.reset();
  }
  ServedChannel(const ServedChannel&) = delete;
  ServedChannel& operator=(const ServedChannel&) = delete;

  IoResult Read(Report& report, std::uint32_t length, std::uint32_t timeoutMs) override {
    return link_->Read(report, length, timeoutMs);
  }
  IoResult Write(const Report& report, std::uint32_t length, std::uint32_t timeoutMs) override {
    return link_->Write(report, length, timeoutMs);
  }
  IoResult ReadWaiting(Report& report, std::uint32_t length) override {
    return link_->ReadWaiting(report, length);
  }
  void Cancel() override { link_->Cancel(); }

 private:
  std::unique_ptr<Channel> link_;
  std::shared_ptr<void> server_;
};

}  // namespace quarnel::hid
