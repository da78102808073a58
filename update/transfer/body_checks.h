// The checks a retried transfer (FetchFile) applies to each attempt's body
// while it streams in, each one fresh for every attempt: a size cap for the
// small files (descriptor, signature) and the archive's announced size and
// digest. A check's verdict tells a wrong body from a cut or failed one, so
// that only failures that may pass are tried again. Pure: no windows.h.
#pragma once

#include <optional>

#include "update/trust/archive_digest.h"
#include "update/body_observer.h"

namespace update {

class BodyCheck : public BodyObserver {
 public:
  enum class Result { Accepted, Short, Wrong };
  virtual void Begin() = 0;      // before each attempt: forget the last one
  virtual Result Verdict() = 0;  // after an attempt that ended without a transfer error
};

// BodyLimit for every attempt: a body larger than the limit is wrong.
class LimitCheck : public BodyCheck {
 public:
  explicit LimitCheck(std::uint64_t limit) : limit_(limit), current_(limit) {}
  void Begin() override { current_ = BodyLimit(limit_); }
  bool OnBody(const char* data, std::size_t size) override { return current_.OnBody(data, size); }
  Result Verdict() override { return current_.Exceeded() ? Result::Wrong : Result::Accepted; }
  bool Exceeded() const { return current_.Exceeded(); }

 private:
  std::uint64_t limit_;
  BodyLimit current_;
};

// ArchiveVerifier for every attempt. Refused() tells whether the last attempt
// ended with a body that did not match, and Last() why.
class ArchiveBodyCheck : public BodyCheck {
 public:
  explicit ArchiveBodyCheck(const ArchiveExpectation& expected) : expected_(expected) {}
  void Begin() override {
    verifier_.emplace(expected_);
    refused_ = false;
  }
  bool OnBody(const char* data, std::size_t size) override { return verifier_->OnBody(data, size); }
  Result Verdict() override {
    last_ = verifier_->Finish();
    refused_ = last_ != ArchiveCheck::Match;
    return refused_ ? Result::Wrong : Result::Accepted;
  }
  bool Refused() const { return refused_; }
  ArchiveCheck Last() const { return last_; }
  const ArchiveVerifier& Verifier() const { return *verifier_; }

 private:
  ArchiveExpectation expected_;
  std::optional<ArchiveVerifier> verifier_;
  ArchiveCheck last_ = ArchiveCheck::Match;
  bool refused_ = false;
};

}  // namespace update
