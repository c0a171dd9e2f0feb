#include "app/cli/UnitWait.h"

#include <algorithm>
#include <thread>

#include "app/cli/Units.h"

namespace quarnel::cli {

namespace {

using Clock = std::chrono::steady_clock;

// A node made since the last look is noticed at once where the system tells of new nodes;
// listing again at least this often keeps a node made just before the wait began from being
// missed for long.
constexpr std::chrono::milliseconds kLookAgain{1000};

bool Refused(const hid::LinkFailure& failure) {
  return failure.kind == hid::FailureKind::PermissionDenied;
}

// There for the command: it opens and fits, or it is there and refuses (the run then says
// why); an interface that is not ours, or whose reports cannot carry ours, is not.
bool Usable(const SurveyedInterface& s, const CliOptions& o) {
  if (s.product == nullptr) return false;
  if (!o.devicePath.empty() && s.info.path != o.devicePath) return false;
  if (s.fits) return true;
  return Refused(s.failure) || s.failure.kind == hid::FailureKind::InUse;
}

}  // namespace

PatientBus::PatientBus(hid::Bus& inner, Pacing pacing) : inner_(inner), pacing_(std::move(pacing)) {
  if (!pacing_.now) pacing_.now = [] { return Clock::now(); };
  if (!pacing_.pause)
    pacing_.pause = [](std::chrono::milliseconds ms) { std::this_thread::sleep_for(ms); };
}

Clock::time_point PatientBus::Now() const {
  return pacing_.now();
}

std::vector<hid::InterfaceInfo> PatientBus::Enumerate() {
  auto all = inner_.Enumerate();
  for (const hid::InterfaceInfo& info : all) {
    if (!listed_) {
      first_.push_back(info.path);
      continue;
    }
    const bool known = std::find(first_.begin(), first_.end(), info.path) != first_.end() ||
                       std::any_of(seen_.begin(), seen_.end(),
                                   [&](const auto& s) { return s.first == info.path; });
    if (!known) seen_.emplace_back(info.path, Now());
  }
  listed_ = true;
  return all;
}

std::optional<std::chrono::milliseconds> PatientBus::Age(const hid::InterfaceInfo& info) const {
  for (const auto& [path, at] : seen_) {
    if (path == info.path) return std::chrono::duration_cast<std::chrono::milliseconds>(Now() - at);
  }
  return inner_.Age(info);
}

Result<hid::OpenedInterface, hid::LinkFailure> PatientBus::Open(const hid::InterfaceInfo& info) {
  auto opened = inner_.Open(info);
  if (opened || !Refused(opened.error())) return opened;
  const auto age = Age(info);
  if (!age || *age >= kAccessGrace) return opened;
  const auto until = Now() + kAccessGrace;
  while (Now() < until) {
    pacing_.pause(kAccessRetry);
    opened = inner_.Open(info);
    if (opened || !Refused(opened.error())) return opened;
  }
  return opened;
}

WaitEnd WaitForUnit(PatientBus& bus, const CliOptions& o,
                    std::optional<std::chrono::milliseconds> limit,
                    const std::atomic<bool>* interrupt, const std::function<void()>& announce) {
  const auto interrupted = [interrupt] { return interrupt != nullptr && interrupt->load(); };
  const auto present = [&] {
    const auto all = Survey(bus);
    return std::any_of(all.begin(), all.end(),
                       [&](const SurveyedInterface& s) { return Usable(s, o); });
  };
  if (present()) return WaitEnd::Present;
  announce();
  const auto start = bus.Now();
  while (!interrupted()) {
    auto step = kLookAgain;
    if (limit) {
      const auto left =
          *limit - std::chrono::duration_cast<std::chrono::milliseconds>(bus.Now() - start);
      if (left.count() <= 0) return WaitEnd::TimedOut;
      step = std::min(step, left);
    }
    bus.WaitForChange(step, interrupt);
    if (interrupted()) break;
    if (present()) return WaitEnd::Present;
  }
  return WaitEnd::Interrupted;
}

}  // namespace quarnel::cli
