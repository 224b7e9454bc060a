// web/byte_scan.h - finding the next byte of a small set in a text, sixteen
// bytes at a time: the readers' scanners and decoders spend most of their
// time passing over plain text to the next byte that means something.
//
// Invariants:
//   1. findAnyOf, findForbiddenControl and skipAscii read only bytes in
//      [from, end) and answer the first position whose byte is one of Bytes
//      (a control, above 0x7F), or end when there is none; findAnyOfWithin
//      answers the same and may read on to the `readable` its caller
//      vouches for.
//   2. The answer is the same with or without the vector unit (SSE2 on
//      x86-64; elsewhere one byte at a time).
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace bw {

#if defined(__SSE2__)
// A bit for each of the sixteen bytes at `from` that is one of Bytes.
template <char... Bytes>
inline unsigned blockMatches(const char* from) {
  const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from));
  return static_cast<unsigned>(_mm_movemask_epi8((_mm_cmpeq_epi8(block, _mm_set1_epi8(Bytes)) | ...)));
}
#endif

template <char... Bytes>
inline const char* findAnyOf(const char* from, const char* end) {
  static_assert(sizeof...(Bytes) > 0);
#if defined(__SSE2__)
  while (end - from >= 16) {
    if (const unsigned mask = blockMatches<Bytes...>(from)) return from + __builtin_ctz(mask);
    from += 16;
  }
#endif
  for (; from < end; ++from) {
    const char c = *from;
    if (((c == Bytes) || ...)) return from;
  }
  return end;
}

// findAnyOf where the bytes from `from` up to `readable` (at least end) may
// be read: a run shorter than sixteen bytes is found in one block, bytes
// behind end masked off.
template <char... Bytes>
inline const char* findAnyOfWithin(const char* from, const char* end, const char* readable) {
#if defined(__SSE2__)
  if (readable - from >= 16) {
    unsigned mask = blockMatches<Bytes...>(from);
    if (end - from < 16) mask |= 1u << (end - from);
    if (mask) return from + __builtin_ctz(mask);
    from += 16;
  }
#else
  (void)readable;
#endif
  return findAnyOf<Bytes...>(from, end);
}

#if defined(__SSE2__)
inline __m128i loadBlock(const char* from) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(from)); }

// Whether any byte of the block is at most 1F.
inline bool holdsControl(__m128i block) {
  return _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_min_epu8(block, _mm_set1_epi8(0x1F)), block)) != 0;
}

// The block with tab, line feed and carriage return read as FF, the other
// bytes as they are.
inline __m128i allowedControlsRaised(__m128i block) {
  // Tab (09) and carriage return (0D) both read 0D once bit 04 is set.
  const __m128i allowed = _mm_cmpeq_epi8(_mm_or_si128(block, _mm_set1_epi8(0x04)), _mm_set1_epi8(0x0D)) |
                          _mm_cmpeq_epi8(block, _mm_set1_epi8('\n'));
  return _mm_max_epu8(block, allowed);
}

// The sixteen bytes at `from` that are C0 controls (00..1F) other than tab,
// line feed and carriage return, as 0xFF bytes.
inline __m128i forbiddenControlBytes(const char* from) {
  const __m128i raised = allowedControlsRaised(loadBlock(from));
  return _mm_cmpeq_epi8(_mm_min_epu8(raised, _mm_set1_epi8(0x1F)), raised);
}
#endif

// The first position in [from, end) holding a C0 control byte (00..1F)
// other than tab, line feed and carriage return, or end. Texts hold none
// mostly: sixty-four bytes are passed at a time, at once when none of them
// is below 20, else when none is once tab, line feed and carriage return
// are read as FF.
inline const char* findForbiddenControl(const char* from, const char* end) {
#if defined(__SSE2__)
  while (end - from >= 64) {
    const __m128i b0 = loadBlock(from), b1 = loadBlock(from + 16), b2 = loadBlock(from + 32),
                  b3 = loadBlock(from + 48);
    if (holdsControl(_mm_min_epu8(_mm_min_epu8(b0, b1), _mm_min_epu8(b2, b3))) &&
        holdsControl(_mm_min_epu8(_mm_min_epu8(allowedControlsRaised(b0), allowedControlsRaised(b1)),
                                  _mm_min_epu8(allowedControlsRaised(b2), allowedControlsRaised(b3))))) {
      break;
    }
    from += 64;
  }
  while (end - from >= 16) {
    if (const int mask = _mm_movemask_epi8(forbiddenControlBytes(from))) {
      return from + __builtin_ctz(static_cast<unsigned>(mask));
    }
    from += 16;
  }
#endif
  for (; from < end; ++from) {
    const auto c = static_cast<unsigned char>(*from);
    if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') return from;
  }
  return end;
}

// The first position in [from, end) holding a byte above 0x7F, or end.
inline const char* skipAscii(const char* from, const char* end) {
#if defined(__SSE2__)
  while (end - from >= 16) {
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from));
    if (const int mask = _mm_movemask_epi8(block)) return from + __builtin_ctz(static_cast<unsigned>(mask));
    from += 16;
  }
#endif
  while (from < end && static_cast<unsigned char>(*from) < 0x80) ++from;
  return from;
}

// Passes over ASCII and well-formed two-byte UTF-8 sequences (the letters
// of most European scripts) from `from`, where a sequence starts, sixteen
// bytes at a time. Answers where a sequence starts in the first block that
// holds anything else (a longer sequence, a byte no sequence starts with, a
// two-byte sequence cut short or a stray continuation byte), or where the
// next block would run past end; one byte at a time the caller goes on
// from there.
#if defined(__SSE2__)
// One step of skipAsciiAndTwoByteUtf8: where the sixteen bytes at `from`
// (where a sequence starts) pass over to, or NIL when they hold anything
// else.
inline const char* passAsciiAndTwoByteUtf8Block(const char* from) {
  const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from));
  const auto high = static_cast<unsigned>(_mm_movemask_epi8(block));
  if (high == 0) return from + 16;
  // As signed bytes, a continuation (80..BF) is -128..-65 and a two-byte
  // lead (C2..DF) is -62..-33.
  const auto continuation = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmplt_epi8(block, _mm_set1_epi8(-64))));
  const auto lead = static_cast<unsigned>(_mm_movemask_epi8(
      _mm_and_si128(_mm_cmpgt_epi8(block, _mm_set1_epi8(-63)), _mm_cmplt_epi8(block, _mm_set1_epi8(-32)))));
  // Every lead but one in the last byte has its continuation right behind
  // it, and no other byte is a continuation.
  if ((continuation | lead) != high || continuation != (lead & 0x7FFF) << 1) return nullptr;
  return from + (lead & 0x8000 ? 15 : 16);
}
#endif

inline const char* skipAsciiAndTwoByteUtf8(const char* from, const char* end) {
#if defined(__SSE2__)
  while (end - from >= 16) {
    const char* next = passAsciiAndTwoByteUtf8Block(from);
    if (!next) return from;
    from = next;
  }
#else
  (void)end;
#endif
  return from;
}

}  // namespace bw
