// platform/guarded_copy.cpp - copies from a file's mapping that survive a
// SIGBUS on their source, and the SIGBUS action that recovers them.
#include <ucontext.h>

#include <algorithm>
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

}  // namespace
}  // namespace bw

#ifdef BRINDLEWORK_GUARD_BY_EXIT

// bw_guardedCopy(to = rdi, from = rsi, length = rdx) answers 1 after the
// copy. Every instruction from its entry up to bw_guardedCopyFault reads
// only [from, from + length) and writes only [to, to + length); rsi and rdx
// keep their values throughout and the stack is never touched, so the
// SIGBUS action can tell the source from the registers and resume a faulted
// copy at bw_guardedCopyFault, which answers 0 to the caller. Short copies
// are two overlapping moves from each end; longer ones move 64 bytes a
// step (128 in 32-byte registers with bw_guardedCopyWide), the last step
// ending at the last byte (bw_move4: four loads from rsi + index, then four
// stores to rdi + index). The wide road leaves the upper register halves
// clear (vzeroupper) at every exit, the failing one included.
asm(R"(
  .macro bw_move4 mov, reg, step, index
  \mov (%rsi,\index), %\reg\()0
  \mov \step(%rsi,\index), %\reg\()1
  \mov 2*\step(%rsi,\index), %\reg\()2
  \mov 3*\step(%rsi,\index), %\reg\()3
  \mov %\reg\()0, (%rdi,\index)
  \mov %\reg\()1, \step(%rdi,\index)
  \mov %\reg\()2, 2*\step(%rdi,\index)
  \mov %\reg\()3, 3*\step(%rdi,\index)
  .endm
  .pushsection .text
  .p2align 5
  .globl bw_guardedCopy
  .hidden bw_guardedCopy
  .type bw_guardedCopy, @function
bw_guardedCopy:
  .cfi_startproc
  endbr64
  cmpq $16, %rdx
  jb 1f
  cmpq $32, %rdx
  ja 2f
  movdqu (%rsi), %xmm0
  movdqu -16(%rsi,%rdx), %xmm1
  movdqu %xmm0, (%rdi)
  movdqu %xmm1, -16(%rdi,%rdx)
  movl $1, %eax
  ret
2:
  cmpq $64, %rdx
  ja 3f
  movdqu (%rsi), %xmm0
  movdqu 16(%rsi), %xmm1
  movdqu -32(%rsi,%rdx), %xmm2
  movdqu -16(%rsi,%rdx), %xmm3
  movdqu %xmm0, (%rdi)
  movdqu %xmm1, 16(%rdi)
  movdqu %xmm2, -32(%rdi,%rdx)
  movdqu %xmm3, -16(%rdi,%rdx)
  movl $1, %eax
  ret
3:
  cmpb $0, bw_guardedCopyWide(%rip)
  jne 8f
  leaq -64(%rdx), %r8
  xorl %ecx, %ecx
4:
  bw_move4 movdqu, xmm, 16, %rcx
  addq $64, %rcx
  cmpq %r8, %rcx
  jb 4b
  bw_move4 movdqu, xmm, 16, %r8
  movl $1, %eax
  ret
1:
  cmpq $8, %rdx
  jb 5f
  movq (%rsi), %rax
  movq -8(%rsi,%rdx), %rcx
  movq %rax, (%rdi)
  movq %rcx, -8(%rdi,%rdx)
  movl $1, %eax
  ret
5:
  cmpq $4, %rdx
  jb 6f
  movl (%rsi), %eax
  movl -4(%rsi,%rdx), %ecx
  movl %eax, (%rdi)
  movl %ecx, -4(%rdi,%rdx)
  movl $1, %eax
  ret
6:
  testq %rdx, %rdx
  je 7f
  movzbl (%rsi), %eax
  movb %al, (%rdi)
  cmpq $1, %rdx
  je 7f
  movzwl -2(%rsi,%rdx), %ecx
  movw %cx, -2(%rdi,%rdx)
7:
  movl $1, %eax
  ret
8:
  cmpq $128, %rdx
  ja 9f
  vmovdqu (%rsi), %ymm0
  vmovdqu 32(%rsi), %ymm1
  vmovdqu -64(%rsi,%rdx), %ymm2
  vmovdqu -32(%rsi,%rdx), %ymm3
  vmovdqu %ymm0, (%rdi)
  vmovdqu %ymm1, 32(%rdi)
  vmovdqu %ymm2, -64(%rdi,%rdx)
  vmovdqu %ymm3, -32(%rdi,%rdx)
  vzeroupper
  movl $1, %eax
  ret
9:
  leaq -128(%rdx), %r8
  xorl %ecx, %ecx
10:
  bw_move4 vmovdqu, ymm, 32, %rcx
  subq $-128, %rcx
  cmpq %r8, %rcx
  jb 10b
  bw_move4 vmovdqu, ymm, 32, %r8
  vzeroupper
  movl $1, %eax
  ret
  .globl bw_guardedCopyFault
  .hidden bw_guardedCopyFault
bw_guardedCopyFault:
  cmpb $0, bw_guardedCopyWide(%rip)
  je 11f
  vzeroupper
11:
  xorl %eax, %eax
  ret
  .cfi_endproc
  .size bw_guardedCopy, .-bw_guardedCopy
  .popsection
)");

extern "C" {
uint8_t bw_guardedCopyWide = 0;
}

extern "C" __attribute__((visibility("hidden"))) const char bw_guardedCopyFault[];

namespace bw {
namespace {

// A fault of bw_guardedCopy on its source: the copy resumes at its failing
// exit when the action returns.
bool recover(const siginfo_t* info, void* context) {
  auto& registers = static_cast<ucontext_t*>(context)->uc_mcontext.gregs;
  const auto at = static_cast<uintptr_t>(registers[REG_RIP]);
  const auto begin = reinterpret_cast<uintptr_t>(&bw_guardedCopy);
  const auto fault = reinterpret_cast<uintptr_t>(bw_guardedCopyFault);
  if (at < begin || at >= fault ||
      !onSourcePages(reinterpret_cast<uintptr_t>(info->si_addr), static_cast<uintptr_t>(registers[REG_RSI]),
                     static_cast<uintptr_t>(registers[REG_RDX]))) {
    return false;
  }
  registers[REG_RIP] = static_cast<greg_t>(fault);
  return true;
}

}  // namespace

bool guardedPieces(const uint8_t* from, int64_t length, const IoPiece* pieces, int32_t count) {
  // The pieces' lines are asked for all at once: pieces spread over the
  // file's pages come from memory side by side instead of one after
  // another.
  for (int32_t k = 0; k < count; ++k) __builtin_prefetch(from + pieces[k].offset);
  for (int32_t k = 0; k < count; ++k) {
    const IoPiece& piece = pieces[k];
    const int64_t n = std::min(piece.length, length - piece.offset);
    if (n > 0 && !guardedCopy(piece.buffer, from + piece.offset, static_cast<size_t>(n))) return false;
  }
  return true;
}

}  // namespace bw

#else

namespace bw {
namespace {

// The guarded copy running on this thread: its source and where a fault on
// it goes back to. Initial-exec: the action reads it without the dynamic
// linker's help.
struct Guard {
  const uint8_t* from = nullptr;
  int64_t length = 0;
  sigjmp_buf* recover = nullptr;
};
thread_local Guard guard __attribute__((tls_model("initial-exec")));

// A fault on the source of this thread's copy: the copy answers false.
bool recover(const siginfo_t* info, void*) {
  const Guard& g = guard;
  if (g.recover && onSourcePages(reinterpret_cast<uintptr_t>(info->si_addr),
                                 reinterpret_cast<uintptr_t>(g.from), static_cast<uintptr_t>(g.length))) {
    siglongjmp(*g.recover, 1);
  }
  return false;
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
  return guarded(from, length, [&] {
    for (int32_t k = 0; k < count; ++k) __builtin_prefetch(from + pieces[k].offset);
    copyPieces(from, length, pieces, count);
  });
}

bool guardedCopy(void* to, const void* from, size_t length) {
  const auto* bytes = static_cast<const uint8_t*>(from);
  return guarded(bytes, static_cast<int64_t>(length), [&] { std::memcpy(to, bytes, length); });
}

}  // namespace bw

#endif

namespace bw {
namespace {

struct sigaction previousAction;

void onBus(int signal, siginfo_t* info, void* context) {
  // A fault (not a sent signal) on the source of this thread's copy.
  if (info->si_code > 0 && recover(info, context)) return;
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
  // Not deferred: the portable recovery leaves the action by a jump that
  // keeps the signal mask as it is.
  action.sa_flags = SA_SIGINFO | SA_NODEFER;
  sigemptyset(&action.sa_mask);
  return sigaction(SIGBUS, &action, &previousAction) == 0;
}

}  // namespace

bool installGuard() {
  static const bool installed = [] {
#ifdef BRINDLEWORK_GUARD_BY_EXIT
    __builtin_cpu_init();
    bw_guardedCopyWide = __builtin_cpu_supports("avx2") ? 1 : 0;
#endif
    return setGuardAction();
  }();
  return installed;
}

}  // namespace bw
