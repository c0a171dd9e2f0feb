#include "app/cli/Verdict.h"

#include <algorithm>
#include <cstdio>

#include "app/ExitCodes.h"
#include "base/Text.h"

namespace quarnel::cli {

namespace {

constexpr const char* kUpdateOk = "FW UPDATE OK!";
constexpr const char* kUpdateFail = "FW UPDATE FAIL!";
constexpr const char* kConnectFail = "Fail to connect device!";
constexpr const char* kVersionFail = "Fail to get firmware version!";

Verdict Make(int code, const char* outcome, std::string line) {
  Verdict v;
  v.code = code;
  v.outcome = outcome;
  v.line = std::move(line);
  return v;
}

void Reason(Verdict& v, const hid::LinkFailure& failure) {
  if (!failure.failed()) return;
  v.reasonType = hid::FailureKindName(failure.kind);
  v.reasonDetail = failure.detail;
}

std::string TriedPairs(const RunResult& result) {
  std::string text;
  for (const ConnectAttempt& a : result.attempts) {
    text += (text.empty() ? "" : ", ") + IdPair(a.vendorId, a.productId);
  }
  return text;
}

}  // namespace

Difference Compare(std::span<const std::uint8_t> image, std::span<const std::uint8_t> readBack) {
  Difference d;
  for (std::size_t i = 0; i < image.size(); ++i) {
    if (i < readBack.size() && image[i] == readBack[i]) continue;
    if (d.count == 0) d.first = static_cast<std::uint32_t>(i);
    ++d.count;
  }
  return d;
}

std::string DiffersLine(const Difference& difference) {
  char text[96];
  std::snprintf(text, sizeof text, "EEPROM differs from the image: %u bytes, first at 0x%04X",
                difference.count, difference.first);
  return text;
}

Verdict Judge(const RunEnd& end) {
  const bool update = end.command == Command::Update;
  const bool version = end.command == Command::Version;
  const char* failLine = update ? kUpdateFail : version ? kVersionFail : kConnectFail;
  const bool verifying = update && end.phase == Phase::ReadBack;

  if (end.stop != Stop::None) {
    const bool timeout = end.stop == Stop::Timeout;
    Verdict v = Make(verifying ? kExitNotVerified
                     : timeout ? kExitStoppedAnswering
                               : kExitInterrupted,
                     verifying ? "not-verified"
                     : timeout ? "stopped-answering"
                               : "interrupted",
                     failLine);
    v.reasonType = timeout ? "timeout" : "interrupted";
    const std::string what = timeout ? "the device stopped answering" : "interrupted";
    v.diagnostic = what + (verifying ? " while the firmware was being verified: it was written "
                                       "but not verified"
                           : update  ? " during the write; the firmware may be partly written"
                                     : "; nothing was written");
    v.reasonDetail = v.diagnostic;
    return v;
  }

  const RunResult& r = end.result;
  switch (r.outcome) {
    case Outcome::UpdateOk:
      return Make(kExitOk, "ok", kUpdateOk);
    case Outcome::VerifyFailed: {
      Verdict v = Make(kExitVerifyFailed, "differs", kUpdateFail);
      if (end.difference.count > 0) v.differsLine = DiffersLine(end.difference);
      if (r.outOfStep) {
        v.reasonType = "out-of-step";
        v.diagnostic =
            "the unit's answers went out of step with the requests, so nothing it sent can be "
            "trusted; run the update again";
        v.reasonDetail = v.diagnostic;
      }
      return v;
    }
    case Outcome::ConnectFailed: {
      const hid::FailureKind kind = r.failure.kind;
      Verdict v = kind == hid::FailureKind::PermissionDenied
                      ? Make(kExitNoPermission, "permission", kConnectFail)
                  : kind == hid::FailureKind::InUse ? Make(kExitBusy, "in-use", kConnectFail)
                                                    : Make(kExitNoDevice, "no-unit", kConnectFail);
      Reason(v, r.failure);
      if (kind == hid::FailureKind::NotFound || !r.failure.failed()) {
        v.diagnostic = "no unit found; tried " + TriedPairs(r);
      }
      return v;
    }
    case Outcome::ReadBackConnectFailed: {
      Verdict v = Make(kExitNotVerified, "not-verified", kConnectFail);
      Reason(v, r.failure);
      return v;
    }
    case Outcome::Busy: {
      Verdict v = Make(kExitBusy, "busy", kConnectFail);
      v.reasonType = "busy";
      v.reasonDetail = r.lockFailure.detail;
      return v;
    }
    case Outcome::LockFailed: {
      Verdict v = Make(kExitInternal, "lock-failed", kConnectFail);
      v.reasonType = "lock";
      v.reasonDetail = r.lockFailure.detail;
      return v;
    }
    case Outcome::LinkLost: {
      const bool lostVerifying = update && r.phase == Phase::ReadBack;
      Verdict v = Make(lostVerifying ? kExitNotVerified : kExitStoppedAnswering,
                       lostVerifying ? "not-verified" : "link-lost", failLine);
      Reason(v, r.failure);
      // An update's loss is told by the dialog's message box.
      if (!update) v.diagnostic = "the device stopped answering; nothing was written";
      return v;
    }
    case Outcome::VersionOk:
      return Make(kExitOk, "version", r.versionLine);
    case Outcome::VersionFailed:
      return Make(kExitVerifyFailed, "version-failed", kVersionFail);
    case Outcome::ReadDone:
      if (end.command == Command::Backup) return Make(kExitOk, "saved", "");
      if (end.difference.count == 0) return Make(kExitOk, "matches", "EEPROM matches the image");
      return Make(kExitVerifyFailed, "differs", DiffersLine(end.difference));
    default:
      return Make(kExitInternal, "internal", failLine);
  }
}

}  // namespace quarnel::cli
