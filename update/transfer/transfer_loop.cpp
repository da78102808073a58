#include "update/transfer/transfer_loop.h"

#include <algorithm>

#include "base/stop_request.h"

namespace update {

namespace {

// The longest wait when nothing is due: libcurl always has a socket or a
// timer for a running transfer, so this only bounds a wait that should
// never happen.
constexpr ULONGLONG kLongestWaitMs = 60000;

}  // namespace

TransferLoop::TransferLoop() : socketEvent_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
  multi_ = curl_multi_init();
  if (multi_ == nullptr) return;
  curl_multi_setopt(multi_, CURLMOPT_SOCKETFUNCTION, &TransferLoop::OnSocket);
  curl_multi_setopt(multi_, CURLMOPT_SOCKETDATA, this);
  curl_multi_setopt(multi_, CURLMOPT_TIMERFUNCTION, &TransferLoop::OnTimer);
  curl_multi_setopt(multi_, CURLMOPT_TIMERDATA, this);
}

TransferLoop::~TransferLoop() {
  if (multi_ == nullptr) return;
  for (const Transfer& transfer : running_) curl_multi_remove_handle(multi_, transfer.handle);
  curl_multi_cleanup(multi_);
}

bool TransferLoop::Add(CURL* handle, const TransferLimits& limits) {
  if (multi_ == nullptr || !socketEvent_.Valid() || handle == nullptr) return false;
  Transfer transfer;
  transfer.handle = handle;
  if (limits.lowSpeedBytesPerSecond > 0 && limits.lowSpeedSeconds > 0) {
    transfer.lowSpeedBytes = static_cast<std::int64_t>(limits.lowSpeedBytesPerSecond) * limits.lowSpeedSeconds;
    transfer.lowSpeedMs = static_cast<std::int64_t>(limits.lowSpeedSeconds) * 1000;
  }
  transfer.windowStartMs = ::GetTickCount64();
  // Added first: libcurl asks for its first timer while it takes the handle.
  running_.push_back(transfer);
  if (curl_multi_add_handle(multi_, handle) != CURLM_OK) {
    running_.pop_back();
    return false;
  }
  return true;
}

void TransferLoop::Remove(CURL* handle) {
  const auto at = std::find_if(running_.begin(), running_.end(),
                               [handle](const Transfer& transfer) { return transfer.handle == handle; });
  if (at == running_.end()) return;
  curl_multi_remove_handle(multi_, handle);
  running_.erase(at);
}

int TransferLoop::OnSocket(CURL*, curl_socket_t socket, int what, void* self, void*) {
  TransferLoop* loop = static_cast<TransferLoop*>(self);
  auto at = std::find_if(loop->sockets_.begin(), loop->sockets_.end(),
                         [socket](const Socket& s) { return s.socket == socket; });
  if (what == CURL_POLL_REMOVE) {
    ::WSAEventSelect(socket, nullptr, 0);
    if (at != loop->sockets_.end()) loop->sockets_.erase(at);
    return 0;
  }
  long events = FD_CLOSE;
  if ((what & CURL_POLL_IN) != 0) events |= FD_READ;
  if ((what & CURL_POLL_OUT) != 0) events |= FD_WRITE | FD_CONNECT;
  // Winsock records a condition that already holds at once, so a socket
  // that is ready now sets the event too.
  ::WSAEventSelect(socket, loop->socketEvent_.Get(), events);
  if (at == loop->sockets_.end()) {
    loop->sockets_.push_back({socket, what});
  } else {
    at->what = what;
  }
  return 0;
}

int TransferLoop::OnTimer(CURLM*, long timeoutMs, void* self) {
  TransferLoop* loop = static_cast<TransferLoop*>(self);
  loop->timerSet_ = timeoutMs >= 0;
  if (loop->timerSet_) loop->timerDueMs_ = ::GetTickCount64() + static_cast<ULONGLONG>(timeoutMs);
  return 0;
}

void TransferLoop::Act(curl_socket_t socket, int mask) {
  int running = 0;
  curl_multi_socket_action(multi_, socket, mask, &running);
}

// One look at every watched socket without waiting: libcurl is told of
// those that are ready. True when any was.
bool TransferLoop::ActOnReadySockets() {
  if (sockets_.empty()) return false;
  fd_set readable;
  fd_set writable;
  fd_set failed;
  FD_ZERO(&readable);
  FD_ZERO(&writable);
  FD_ZERO(&failed);
  for (const Socket& s : sockets_) {
    if ((s.what & CURL_POLL_IN) != 0) FD_SET(s.socket, &readable);
    if ((s.what & CURL_POLL_OUT) != 0) FD_SET(s.socket, &writable);
    FD_SET(s.socket, &failed);  // where a connect that failed is reported
  }
  timeval now{0, 0};
  if (::select(0, &readable, &writable, &failed, &now) <= 0) return false;
  // libcurl's actions change the list: act on a copy.
  const std::vector<Socket> watched = sockets_;
  for (const Socket& s : watched) {
    int mask = 0;
    if (FD_ISSET(s.socket, &readable)) mask |= CURL_CSELECT_IN;
    if (FD_ISSET(s.socket, &writable)) mask |= CURL_CSELECT_OUT;
    if (FD_ISSET(s.socket, &failed)) mask |= CURL_CSELECT_ERR;
    if (mask != 0) Act(s.socket, mask);
  }
  return true;
}

void TransferLoop::CollectDone(std::vector<Finished>* finished) {
  int left = 0;
  while (CURLMsg* message = curl_multi_info_read(multi_, &left)) {
    if (message->msg != CURLMSG_DONE) continue;
    CURL* handle = message->easy_handle;
    const CURLcode result = message->data.result;
    Remove(handle);
    finished->push_back({handle, result});
  }
}

// The low-speed rule: a window starts again whenever enough arrived in it.
void TransferLoop::EndSlowTransfers(ULONGLONG nowMs, std::vector<Finished>* finished) {
  for (std::size_t i = 0; i < running_.size();) {
    Transfer& transfer = running_[i];
    if (transfer.lowSpeedMs > 0) {
      curl_off_t bytes = 0;
      curl_easy_getinfo(transfer.handle, CURLINFO_SIZE_DOWNLOAD_T, &bytes);
      if (bytes - transfer.windowStartBytes >= transfer.lowSpeedBytes || bytes < transfer.windowStartBytes) {
        transfer.windowStartMs = nowMs;
        transfer.windowStartBytes = bytes;
      } else if (nowMs - transfer.windowStartMs >= static_cast<ULONGLONG>(transfer.lowSpeedMs)) {
        CURL* handle = transfer.handle;
        Remove(handle);
        finished->push_back({handle, CURLE_OPERATION_TIMEDOUT});
        continue;
      }
    }
    ++i;
  }
}

DWORD TransferLoop::WaitMs(ULONGLONG nowMs) const {
  ULONGLONG due = nowMs + kLongestWaitMs;
  if (timerSet_) due = std::min(due, timerDueMs_);
  for (const Transfer& transfer : running_) {
    if (transfer.lowSpeedMs > 0)
      due = std::min(due, transfer.windowStartMs + static_cast<ULONGLONG>(transfer.lowSpeedMs));
  }
  return due <= nowMs ? 0 : static_cast<DWORD>(due - nowMs);
}

void TransferLoop::EndAll(CURLcode result, std::vector<Finished>* finished) {
  while (!running_.empty()) {
    CURL* handle = running_.back().handle;
    Remove(handle);
    finished->push_back({handle, result});
  }
}

void TransferLoop::Step(const base::StopRequest* stop, std::vector<Finished>* finished) {
  if (stop != nullptr && stop->Requested()) return EndAll(CURLE_ABORTED_BY_CALLBACK, finished);
  // Reset before the look: news after it sets the event again, so the wait
  // below cannot miss it.
  ::ResetEvent(socketEvent_.Get());
  if (!ActOnReadySockets()) {
    const DWORD waitMs = WaitMs(::GetTickCount64());
    if (waitMs != 0) {
      HANDLE handles[2] = {socketEvent_.Get(), nullptr};
      DWORD count = 1;
      if (stop != nullptr && stop->Event() != nullptr) handles[count++] = stop->Event();
      ::WaitForMultipleObjects(count, handles, FALSE, waitMs);
      if (stop != nullptr && stop->Requested()) return EndAll(CURLE_ABORTED_BY_CALLBACK, finished);
      ActOnReadySockets();
    }
  }
  const ULONGLONG nowMs = ::GetTickCount64();
  if (timerSet_ && nowMs >= timerDueMs_) {
    timerSet_ = false;
    Act(CURL_SOCKET_TIMEOUT, 0);
  }
  CollectDone(finished);
  EndSlowTransfers(nowMs, finished);
}

CURLcode TransferLoop::Perform(CURL* handle, const TransferLimits& limits, const base::StopRequest* stop) {
  if (!Add(handle, limits)) return CURLE_FAILED_INIT;
  std::vector<Finished> finished;
  for (;;) {
    Step(stop, &finished);
    for (const Finished& f : finished) {
      if (f.handle == handle) return f.result;
    }
    finished.clear();
  }
}

}  // namespace update
