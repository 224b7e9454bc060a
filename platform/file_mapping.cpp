// platform/file_mapping.cpp - the SIGBUS guard and the mapping of a file.
#include "platform/file_mapping.h"

#include <sys/mman.h>

#include <algorithm>
#include <atomic>
#include <csetjmp>
#include <csignal>
#include <cstring>

namespace bw {
namespace {

// The guarded copy running on this thread: the pages of its source and
// where a fault on them goes back to (a copy may load a word that starts
// before its first byte, never outside that byte's page). Initial-exec: the
// handler reads it without the dynamic linker's help.
struct Guard {
  const char* begin = nullptr;
  const char* end = nullptr;
  sigjmp_buf* recover = nullptr;
};
thread_local Guard guard __attribute__((tls_model("initial-exec")));

struct sigaction previousAction;

void onBus(int signal, siginfo_t* info, void* context) {
  const Guard& g = guard;
  const char* at = static_cast<const char*>(info->si_addr);
  // A fault (not a sent signal) on the source of this thread's copy.
  if (g.recover && info->si_code > 0 && at >= g.begin && at < g.end) siglongjmp(*g.recover, 1);
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

bool setGuardAction() {
  struct sigaction action {};
  action.sa_sigaction = onBus;
  // Not deferred: the recovery leaves the handler by a jump that keeps the
  // signal mask as it is.
  action.sa_flags = SA_SIGINFO | SA_NODEFER;
  sigemptyset(&action.sa_mask);
  return sigaction(SIGBUS, &action, &previousAction) == 0;
}

// The guard's action is installed once, at the first guarded copy, and stays.
bool installGuard() {
  static const bool installed = setGuardAction();
  return installed;
}

constexpr int64_t kPage = 4096;
constexpr int64_t kLeast = 64 * 1024;

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
  const auto first = reinterpret_cast<uintptr_t>(from);
  g.begin = reinterpret_cast<const char*>(first / kPage * kPage);
  g.end = reinterpret_cast<const char*>((first + static_cast<uint64_t>(length) + kPage - 1) / kPage * kPage);
  g.recover = &recover;
  std::atomic_signal_fence(std::memory_order_seq_cst);
  copy();
  std::atomic_signal_fence(std::memory_order_seq_cst);
  g.recover = nullptr;
  return true;
}

}  // namespace

bool guardedPieces(const uint8_t* from, int64_t length, const IoPiece* pieces, int32_t count) {
  return guarded(from, length, [&] {
    // The pieces' lines are asked for all at once: pieces spread over the
    // file's pages come from memory side by side instead of one after
    // another.
    for (int32_t k = 0; k < count; ++k) __builtin_prefetch(from + pieces[k].offset);
    copyPieces(from, length, pieces, count);
  });
}

bool guardedCopy(void* to, const void* from, size_t length) {
  const auto* bytes = static_cast<const uint8_t*>(from);
  return guarded(bytes, static_cast<int64_t>(length), [&] { std::memcpy(to, bytes, length); });
}

bool FileMapping::cover(int descriptor, int64_t size) {
  if (size <= length_) return true;
  // Twice what is asked for: a growing file is mapped again now and then,
  // not at every growth.
  const int64_t wanted = (std::max(2 * size, kLeast) + kPage - 1) / kPage * kPage;
  void* bytes = bytes_ ? ::mremap(const_cast<uint8_t*>(bytes_), static_cast<size_t>(length_),
                                  static_cast<size_t>(wanted), MREMAP_MAYMOVE)
                       : ::mmap(nullptr, static_cast<size_t>(wanted), PROT_READ, MAP_SHARED, descriptor, 0);
  if (bytes == MAP_FAILED) {
    unmap();
    return false;
  }
  bytes_ = static_cast<const uint8_t*>(bytes);
  length_ = wanted;
  return true;
}

void FileMapping::unmap() {
  if (bytes_) ::munmap(const_cast<uint8_t*>(bytes_), static_cast<size_t>(length_));
  bytes_ = nullptr;
  length_ = 0;
}

}  // namespace bw
