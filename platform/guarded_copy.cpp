// platform/guarded_copy.cpp - copies from a file's mapping that survive a
// SIGBUS on their source, and the SIGBUS action that recovers them.
#include <atomic>
#include <csetjmp>
#include <csignal>
#include <cstring>

#include "platform/file_mapping.h"

namespace bw {
namespace {

constexpr uintptr_t kPage = 4096;

// Whether at lies on a page of [from, from + length): a copy may load a
// word that starts before its first byte, never outside that byte's page.
bool onSourcePages(uintptr_t at, uintptr_t from, uintptr_t length) {
  return at >= from / kPage * kPage &&
         at - from / kPage * kPage < (from % kPage + length + kPage - 1) / kPage * kPage;
}

// The guarded copy running on this thread: its source and where a fault on
// it goes back to. Initial-exec: the action reads it without the dynamic
// linker's help.
struct Guard {
  const uint8_t* from = nullptr;
  int64_t length = 0;
  sigjmp_buf* recover = nullptr;
};
thread_local Guard guard __attribute__((tls_model("initial-exec")));

struct sigaction previousAction;

void onBus(int signal, siginfo_t* info, void* context) {
  // A fault (not a sent signal) on the source of this thread's copy: the
  // copy answers false.
  const Guard& g = guard;
  if (info->si_code > 0 && g.recover &&
      onSourcePages(reinterpret_cast<uintptr_t>(info->si_addr), reinterpret_cast<uintptr_t>(g.from),
                    static_cast<uintptr_t>(g.length))) {
    siglongjmp(*g.recover, 1);
  }
  if ((previousAction.sa_flags & SA_SIGINFO) && previousAction.sa_sigaction) {
    previousAction.sa_sigaction(signal, info, context);
    return;
  }
  if (!(previousAction.sa_flags & SA_SIGINFO) && previousAction.sa_handler != SIG_DFL &&
      previousAction.sa_handler != SIG_IGN) {
    previousAction.sa_handler(signal);
    return;
  }
  // The default action: the process ends by this signal.
  struct sigaction fallback {};
  fallback.sa_handler = SIG_DFL;
  sigemptyset(&fallback.sa_mask);
  sigaction(signal, &fallback, nullptr);
  raise(signal);
}

// Runs copy, which reads [from, from + length) only, and answers true, or
// false when reading there raised SIGBUS.
template <class Copy>
bool guarded(const uint8_t* from, int64_t length, Copy&& copy) {
  if (!installGuard()) {
    copy();
    return true;
  }
  Guard& g = guard;
  sigjmp_buf recover;
  if (sigsetjmp(recover, 0) != 0) {
    g.recover = nullptr;
    return false;
  }
  g.from = from;
  g.length = length;
  g.recover = &recover;
  std::atomic_signal_fence(std::memory_order_seq_cst);
  copy();
  std::atomic_signal_fence(std::memory_order_seq_cst);
  g.recover = nullptr;
  return true;
}

}  // namespace

bool guardedPieces(const uint8_t* from, int64_t length, const IoPiece* pieces, int32_t count) {
  return guarded(from, length, [&] { copyPieces(from, length, pieces, count); });
}

bool guardedCopy(void* to, const void* from, size_t length) {
  const auto* bytes = static_cast<const uint8_t*>(from);
  return guarded(bytes, static_cast<int64_t>(length), [&] { std::memcpy(to, bytes, length); });
}

bool installGuard() {
  static const bool installed = [] {
    struct sigaction action {};
    action.sa_sigaction = onBus;
    // Not deferred: the recovery leaves the action by a jump that keeps the
    // signal mask as it is.
    action.sa_flags = SA_SIGINFO | SA_NODEFER;
    sigemptyset(&action.sa_mask);
    return sigaction(SIGBUS, &action, &previousAction) == 0;
  }();
  return installed;
}

}  // namespace bw
