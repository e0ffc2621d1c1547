#include "byte_scan.h"

#include <string.h>

#include <algorithm>
#include <cstring>

#include "field_separators.h"

// Each algorithm is written once, over a lane set V: V::kWidth bytes at a time, each test giving a
// mask of one bit a byte. The scalar lane set is the reference; the vector ones only go faster.
#if !defined(LOOKUP_SCALAR_ONLY) && (defined(__x86_64__) || defined(__i386__)) && defined(__SSE2__)
#define LOOKUP_HAVE_SSE2 1
#include <cpuid.h>
#include <immintrin.h>
#endif
#if !defined(LOOKUP_SCALAR_ONLY) && defined(__aarch64__) && defined(__ARM_NEON)
#define LOOKUP_HAVE_NEON 1
#include <arm_neon.h>
#endif

namespace {

struct Portable {
  static constexpr int kWidth = 16;
  // Whether c stands at p[i] and d at q[i] for any i of n, a multiple of the width.
  static bool anyPair(const char* p, char c, const char* q, char d, size_t n) {
    for (size_t i = 0; i < n; ++i) {
      if (p[i] == c && q[i] == d) return true;
    }
    return false;
  }
  static uint64_t equal(const char* p, char c) {
    uint64_t mask = 0;
    for (int i = 0; i < kWidth; ++i) mask |= uint64_t{p[i] == c} << i;
    return mask;
  }
  static uint64_t separators(const char* p) {
    uint64_t mask = 0;
    for (int i = 0; i < kWidth; ++i) mask |= uint64_t{isFieldSeparator(p[i])} << i;
    return mask;
  }
  static void replace(char* p, char from, char to) {
    for (int i = 0; i < kWidth; ++i) {
      if (p[i] == from) p[i] = to;
    }
  }
  // Sixteen bytes as two words, "=" read as a space and the bytes from count on as zero.
  static void folded(const char* p, int count, uint64_t (&words)[2]) {
    char bytes[16];
    for (int i = 0; i < 16; ++i) bytes[i] = i >= count ? '\0' : p[i] == '=' ? ' ' : p[i];
    std::memcpy(words, bytes, 16);
  }
};

#if LOOKUP_HAVE_SSE2
struct Sse2 {
  static constexpr int kWidth = 16;
  static __m128i load(const char* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  }
  // The lanes are combined in registers, with one test at the end.
  static bool anyPair(const char* p, char c, const char* q, char d, size_t n) {
    const __m128i cs = _mm_set1_epi8(c), ds = _mm_set1_epi8(d);
    __m128i found = _mm_setzero_si128();
    for (size_t i = 0; i < n; i += kWidth) {
      found = _mm_or_si128(
          found, _mm_and_si128(_mm_cmpeq_epi8(load(p + i), cs), _mm_cmpeq_epi8(load(q + i), ds)));
    }
    return _mm_movemask_epi8(found) != 0;
  }
  static uint64_t bits(__m128i lanes) { return static_cast<unsigned>(_mm_movemask_epi8(lanes)); }
  static uint64_t equal(const char* p, char c) {
    return bits(_mm_cmpeq_epi8(load(p), _mm_set1_epi8(c)));
  }
  // Separators run from tab to carriage return: a byte less tab, taken unsigned, is at most their
  // distance.
  static uint64_t separators(const char* p) {
    const __m128i d = _mm_sub_epi8(load(p), _mm_set1_epi8('\t'));
    return bits(_mm_cmpeq_epi8(_mm_min_epu8(d, _mm_set1_epi8('\r' - '\t')), d));
  }
  static void replace(char* p, char from, char to) {
    const __m128i v = load(p);
    const __m128i hit = _mm_cmpeq_epi8(v, _mm_set1_epi8(from));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p),
                     _mm_or_si128(_mm_and_si128(hit, _mm_set1_epi8(to)), _mm_andnot_si128(hit, v)));
  }
  static void folded(const char* p, int count, uint64_t (&words)[2]) {
    const __m128i v = load(p);
    const __m128i hit = _mm_cmpeq_epi8(v, _mm_set1_epi8('='));
    const __m128i keep =
        _mm_cmpgt_epi8(_mm_set1_epi8(static_cast<char>(count < 16 ? count : 16)),
                       _mm_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15));
    const __m128i spaced =
        _mm_or_si128(_mm_and_si128(hit, _mm_set1_epi8(' ')), _mm_andnot_si128(hit, v));
    const __m128i kept = _mm_and_si128(spaced, keep);
    words[0] = static_cast<uint64_t>(_mm_cvtsi128_si64(kept));
    words[1] = static_cast<uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(kept, kept)));
  }
};

// AVX2 values never leave the functions compiled for AVX2: the algorithms see masks and answers.
#define LOOKUP_AVX2 __attribute__((target("avx2")))
struct Avx2 {
  static constexpr int kWidth = 32;
  LOOKUP_AVX2 static __m256i load(const char* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
  }
  LOOKUP_AVX2 static bool anyPair(const char* p, char c, const char* q, char d, size_t n) {
    const __m256i cs = _mm256_set1_epi8(c), ds = _mm256_set1_epi8(d);
    __m256i found = _mm256_setzero_si256();
    for (size_t i = 0; i < n; i += kWidth) {
      found = _mm256_or_si256(found, _mm256_and_si256(_mm256_cmpeq_epi8(load(p + i), cs),
                                                      _mm256_cmpeq_epi8(load(q + i), ds)));
    }
    return !_mm256_testz_si256(found, found);
  }
  LOOKUP_AVX2 static uint64_t bits(__m256i lanes) {
    return static_cast<uint32_t>(_mm256_movemask_epi8(lanes));
  }
  LOOKUP_AVX2 static uint64_t equal(const char* p, char c) {
    return bits(_mm256_cmpeq_epi8(load(p), _mm256_set1_epi8(c)));
  }
  LOOKUP_AVX2 static uint64_t separators(const char* p) {
    const __m256i d = _mm256_sub_epi8(load(p), _mm256_set1_epi8('\t'));
    return bits(_mm256_cmpeq_epi8(_mm256_min_epu8(d, _mm256_set1_epi8('\r' - '\t')), d));
  }
  LOOKUP_AVX2 static void replace(char* p, char from, char to) {
    const __m256i v = load(p);
    const __m256i hit = _mm256_cmpeq_epi8(v, _mm256_set1_epi8(from));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p),
                        _mm256_blendv_epi8(v, _mm256_set1_epi8(to), hit));
  }
};
#endif

#if LOOKUP_HAVE_NEON
struct Neon {
  static constexpr int kWidth = 16;
  static bool anyPair(const char* p, char c, const char* q, char d, size_t n) {
    const uint8x16_t cs = vdupq_n_u8(static_cast<uint8_t>(c));
    const uint8x16_t ds = vdupq_n_u8(static_cast<uint8_t>(d));
    uint8x16_t found = vdupq_n_u8(0);
    for (size_t i = 0; i < n; i += kWidth) {
      found = vorrq_u8(found, vandq_u8(vceqq_u8(load(p + i), cs), vceqq_u8(load(q + i), ds)));
    }
    return vmaxvq_u8(found) != 0;
  }
  static uint64_t bits(uint8x16_t lanes) {
    static const uint8_t kWeights[16] = {1, 2, 4, 8, 16, 32, 64, 128, 1, 2, 4, 8, 16, 32, 64, 128};
    const uint8x16_t weighted = vandq_u8(lanes, vld1q_u8(kWeights));
    return vaddv_u8(vget_low_u8(weighted)) | uint64_t{vaddv_u8(vget_high_u8(weighted))} << 8;
  }
  static uint8x16_t load(const char* p) { return vld1q_u8(reinterpret_cast<const uint8_t*>(p)); }
  static uint64_t equal(const char* p, char c) {
    return bits(vceqq_u8(load(p), vdupq_n_u8(static_cast<uint8_t>(c))));
  }
  static uint64_t separators(const char* p) {
    const uint8x16_t d = vsubq_u8(load(p), vdupq_n_u8('\t'));
    return bits(vcleq_u8(d, vdupq_n_u8('\r' - '\t')));
  }
  static void replace(char* p, char from, char to) {
    const uint8x16_t v = load(p);
    const uint8x16_t hit = vceqq_u8(v, vdupq_n_u8(static_cast<uint8_t>(from)));
    vst1q_u8(reinterpret_cast<uint8_t*>(p), vbslq_u8(hit, vdupq_n_u8(static_cast<uint8_t>(to)), v));
  }
  static void folded(const char* p, int count, uint64_t (&words)[2]) {
    static const uint8_t kLanes[16] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
    const uint8x16_t v = load(p);
    const uint8x16_t hit = vceqq_u8(v, vdupq_n_u8('='));
    const uint8x16_t keep =
        vcltq_u8(vld1q_u8(kLanes), vdupq_n_u8(static_cast<uint8_t>(count < 16 ? count : 16)));
    const uint8x16_t spaced = vbslq_u8(hit, vdupq_n_u8(' '), v);
    vst1q_u8(reinterpret_cast<uint8_t*>(words), vandq_u8(spaced, keep));
  }
};
#endif

constexpr int kSlotBytes = 40;

template <class V>
RecordBits recordBitsWith(const char* text, int usable) {
  RecordBits bits{};
  for (int at = 0; at < usable; at += V::kWidth) {
    bits.separators[at >> 6] |= V::separators(text + at) << (at & 63);
    bits.spaces[at >> 6] |= V::equal(text + at, ' ') << (at & 63);
  }
  // Past the usable text everything ends a field, and nothing is a space.
  cutAtUsable(bits, usable);
  return bits;
}

// The slot in loads that cover its 40 bytes, the last one overlapping the one before.
template <class V, typename Step>
void overSlot(Step step) {
  for (int at = 0;; at += V::kWidth) {
    if (at + V::kWidth > kSlotBytes) at = kSlotBytes - V::kWidth;
    step(at);
    if (at + V::kWidth >= kSlotBytes) return;
  }
}

template <class V>
void restoreSpacesWith(char* slot) {
  overSlot<V>([slot](int at) { V::replace(slot + at, '=', ' '); });
}

template <class V>
bool holdsByteWith(const char* slot, int length, char c) {
  uint64_t found = 0;
  overSlot<V>([&](int at) { found |= V::equal(slot + at, c) << at; });
  return (found & ((uint64_t{1} << length) - 1)) != 0;
}

// The words of the text, each mixed into the whole; the last step folds the product into the top
// bits too, which choose a slot.
template <class V>
uint64_t fieldHashWith(const char* bytes, int length) {
  uint64_t h = static_cast<uint64_t>(length) * 0x9e3779b97f4a7c15u;
  for (int at = 0; at < length; at += 16) {
    uint64_t words[2];
    V::folded(bytes + at, length - at, words);
    for (const uint64_t word : words) {
      h = (h ^ word) * 0xff51afd7ed558ccdu;
      h ^= h >> 32;
    }
  }
  h ^= h >> 33;
  h *= 0xc4ceb9fe1a85ec53u;
  return h ^ h >> 29;
}

template <class V>
size_t firstNewlineWith(const char* text, size_t limit) {
  // Most lines end in their first 64 bytes: one mask of them all, then the rest.
  for (size_t at = 0; at < limit; at += 64) {
    uint64_t mask = 0;
    for (int k = 0; k < 64; k += V::kWidth) mask |= V::equal(text + at + k, '\n') << k;
    if (mask != 0) {
      const size_t found = at + static_cast<size_t>(__builtin_ctzll(mask));
      return found < limit ? found : limit;
    }
  }
  return limit;
}

template <class V>
void blockBitsWith(const char* text, size_t size, const BlockMaps& maps) {
  for (size_t word = 0; word * 64 < size; ++word) {
    const char* p = text + word * 64;
    uint64_t n = 0, s = 0, z = 0, sp = 0;
    for (int at = 0; at < 64; at += V::kWidth) {
      n |= V::equal(p + at, '\n') << at;
      s |= V::separators(p + at) << at;
      z |= V::equal(p + at, '\0') << at;
      if (maps.spaces != nullptr) sp |= V::equal(p + at, ' ') << at;
    }
    maps.newlines[word] = n;
    maps.separators[word] = s;
    maps.zeros[word] = z;
    if (maps.spaces != nullptr) maps.spaces[word] = sp;
  }
}

template <class V>
size_t lastNewlineWith(const char* text, size_t from, size_t to) {
  size_t i = to;
  for (; i >= from + V::kWidth; i -= V::kWidth) {
    if (const uint64_t mask = V::equal(text + i - V::kWidth, '\n')) {
      return i - V::kWidth + (63 - static_cast<size_t>(__builtin_clzll(mask)));
    }
  }
  const void* found = memrchr(text + from, '\n', i - from);
  return found ? static_cast<size_t>(static_cast<const char*>(found) - text) : to;
}

// Whether every run of bytes other than newlines is shorter than span: one mask of newlines each
// 64 bytes, and the bits of a mask walked only where a run inside it could be that long.
template <class V>
bool newlineInEverySpanWith(const char* text, size_t size, size_t span) {
  size_t run = 0;  // the bytes since the last newline
  for (size_t at = 0; at < size; at += 64) {
    uint64_t mask = 0;
    for (int k = 0; k < 64; k += V::kWidth) mask |= V::equal(text + at + k, '\n') << k;
    const size_t count = std::min<size_t>(64, size - at);
    if (count < 64) mask &= (uint64_t{1} << count) - 1;
    if (mask == 0) {
      run += count;
      if (run >= span) return false;
      continue;
    }
    if (run + static_cast<size_t>(__builtin_ctzll(mask)) >= span) return false;
    if (static_cast<size_t>(bitCount(mask)) + span <= 64) {
      for (uint64_t rest = mask; (rest & (rest - 1)) != 0; rest &= rest - 1) {
        const int here = __builtin_ctzll(rest), next = __builtin_ctzll(rest & (rest - 1));
        if (static_cast<size_t>(next - here - 1) >= span) return false;
      }
    }
    run = count - 64 + static_cast<size_t>(__builtin_clzll(mask));
  }
  return run < span;
}

bool fitsBefore(char c, bool afterSpace) {
  return afterSpace ? c == ' ' || c == '=' : isFieldSeparator(c);
}

// Whether the byte after a piece fits, or there is none: at is the end of the piece.
bool fitsAfter(const char* text, size_t size, size_t at, FollowedBy followedBy) {
  if (at >= size) return true;
  switch (followedBy) {
    case FollowedBy::kFieldEnd:
      return isFieldSeparator(text[at]) || text[at] == '\0';
    case FollowedBy::kSpace:
      return text[at] == ' ' || text[at] == '=';
    default:
      return true;
  }
}

// The lanes of p where the byte fits what must follow a piece.
template <class V>
uint64_t followers(const char* p, FollowedBy followedBy) {
  switch (followedBy) {
    case FollowedBy::kFieldEnd:
      return V::separators(p) | V::equal(p, '\0');
    case FollowedBy::kSpace:
      return V::equal(p, ' ') | V::equal(p, '=');
    default:
      return ~uint64_t{0};
  }
}

// The candidates of the positions from i on, one by one, 128 at most.
Candidates lastCandidates(const char* text, size_t size, size_t i, const CandidateTest& test) {
  const char a = test.piece[test.offsetA], b = test.piece[test.offsetB];
  const auto fits = [&](size_t at) {
    return text[at + test.offsetA] == a && text[at + test.offsetB] == b &&
           fitsBefore(text[at - 1], test.afterSpace) &&
           fitsAfter(text, size, at + test.length, test.followedBy);
  };
  for (; i + test.length <= size; ++i) {
    if (!fits(i)) continue;
    Candidates found{i, {1, 0}};
    for (size_t j = 1; j < 128 && i + j + test.length <= size; ++j) {
      if (fits(i + j)) found.mask[j >> 6] |= uint64_t{1} << (j & 63);
    }
    return found;
  }
  return {size, {0, 0}};
}

// A step of 128 positions asks only whether both tested bytes stand together anywhere in it,
// with the lanes combined in registers and one test; a step that has such a place is looked at
// again with the bytes before and after, and given whole. The last positions, too few for a whole
// step with a byte after each, go one by one.
template <class V>
Candidates nextCandidatesWith(const char* text, size_t size, size_t from,
                              const CandidateTest& test) {
  constexpr size_t kStep = 128;
  const size_t n = test.length;
  const char a = test.piece[test.offsetA], b = test.piece[test.offsetB];
  size_t i = from > 0 ? from : 1;
  // A scan is asked again right after a block with candidates, where more are likely: its first
  // step goes straight to the exact test.
  for (bool first = true; i + n + kStep <= size; i += kStep, first = false) {
    const char* step = text + i;
    if (!first && !V::anyPair(step + test.offsetA, a, step + test.offsetB, b, kStep)) continue;
    Candidates exact{i, {0, 0}};
    for (size_t k = 0; k < kStep; k += V::kWidth) {
      const char* p = step + k;
      const uint64_t before =
          test.afterSpace ? V::equal(p - 1, ' ') | V::equal(p - 1, '=') : V::separators(p - 1);
      exact.mask[k >> 6] |= (V::equal(p + test.offsetA, a) & V::equal(p + test.offsetB, b) &
                             before & followers<V>(p + n, test.followedBy))
                            << (k & 63);
    }
    if (exact.any()) return exact;
  }
  return lastCandidates(text, size, i, test);
}

// Without vectors the C library's substring search goes faster than a test of every position: a
// block of one candidate, where the piece stands whole.
Candidates nextCandidatesPortable(const char* text, size_t size, size_t from,
                                  const CandidateTest& test) {
  const size_t n = test.length;
  size_t i = from > 0 ? from : 1;
  while (i + n <= size) {
    const void* hit = memmem(text + i, size - i, test.piece, n);
    if (hit == nullptr) break;
    const size_t at = static_cast<size_t>(static_cast<const char*>(hit) - text);
    if (fitsBefore(text[at - 1], test.afterSpace) &&
        fitsAfter(text, size, at + n, test.followedBy)) {
      // The others of its block.
      Candidates found{at, {1, 0}};
      for (size_t j = at + 1; j < at + 128 && j + n <= size; ++j) {
        const void* next = memmem(text + j, std::min(size, at + 127 + n) - j, test.piece, n);
        if (next == nullptr) break;
        j = static_cast<size_t>(static_cast<const char*>(next) - text);
        if (fitsBefore(text[j - 1], test.afterSpace) &&
            fitsAfter(text, size, j + n, test.followedBy)) {
          found.mask[(j - at) >> 6] |= uint64_t{1} << ((j - at) & 63);
        }
      }
      return found;
    }
    i = at + 1;
  }
  return {size, {0, 0}};
}

template <class V>
constexpr ByteScan byteScanWith() {
  return {recordBitsWith<V>,  restoreSpacesWith<V>,      holdsByteWith<V>,
          fieldHashWith<V>,   firstNewlineWith<V>,       blockBitsWith<V>,
          lastNewlineWith<V>, newlineInEverySpanWith<V>, nextCandidatesWith<V>};
}

constexpr ByteScan kPortable = [] {
  ByteScan scan = byteScanWith<Portable>();
  scan.nextCandidates = nextCandidatesPortable;
  return scan;
}();

#if LOOKUP_HAVE_SSE2
constexpr ByteScan kSse2 = byteScanWith<Sse2>();
constexpr const ByteScan& kBaselineScan = kSse2;
using Baseline = Sse2;
constexpr ScanLevel kBaselineLevel = ScanLevel::kSse2;

// The block scans in AVX2: everything they call is inlined into them, so that the whole loop is
// compiled for AVX2 while the rest of the program is not.
__attribute__((target("avx2"), flatten)) Candidates nextCandidatesAvx2(const char* text,
                                                                       size_t size, size_t from,
                                                                       const CandidateTest& test) {
  return nextCandidatesWith<Avx2>(text, size, from, test);
}
__attribute__((target("avx2"), flatten)) void blockBitsAvx2(const char* text, size_t size,
                                                            const BlockMaps& maps) {
  blockBitsWith<Avx2>(text, size, maps);
}
__attribute__((target("avx2"), flatten)) bool newlineInEverySpanAvx2(const char* text, size_t size,
                                                                     size_t span) {
  return newlineInEverySpanWith<Avx2>(text, size, span);
}
__attribute__((target("avx2"), flatten)) size_t lastNewlineAvx2(const char* text, size_t from,
                                                                size_t to) {
  return lastNewlineWith<Avx2>(text, from, to);
}
// Record-sized work stays in SSE2: a record fits in a few loads of sixteen.
constexpr ByteScan kAvx2 = [] {
  ByteScan scan = kSse2;
  scan.nextCandidates = nextCandidatesAvx2;
  scan.lastNewline = lastNewlineAvx2;
  scan.newlineInEverySpan = newlineInEverySpanAvx2;
  scan.blockBits = blockBitsAvx2;
  return scan;
}();

bool processorHasAvx2() {
#if defined(LOOKUP_BASELINE_ONLY)
  return false;
#endif
  unsigned eax, ebx, ecx, edx;
  if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx) || (ecx & bit_OSXSAVE) == 0) return false;
  // The system must save the vector registers: XCR0 bits 1 (SSE) and 2 (AVX).
  unsigned xcr0, xcr0High;
  __asm__("xgetbv" : "=a"(xcr0), "=d"(xcr0High) : "c"(0));
  if ((xcr0 & 6) != 6) return false;
  return __get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx) && (ebx & bit_AVX2) != 0;
}
#elif LOOKUP_HAVE_NEON
constexpr ByteScan kNeon = byteScanWith<Neon>();
constexpr const ByteScan& kBaselineScan = kNeon;
using Baseline = Neon;
constexpr ScanLevel kBaselineLevel = ScanLevel::kNeon;
#else
constexpr const ByteScan& kBaselineScan = kPortable;
using Baseline = Portable;
constexpr ScanLevel kBaselineLevel = ScanLevel::kScalar;
#endif

// The block scan's form: unknown until the first scan large enough to pay for asking the
// processor, so that a lookup in a small table never asks.
constexpr size_t kProbeWorthwhile = 16 * 1024;
const ByteScan* blockScan = nullptr;
ScanLevel blockLevel = kBaselineLevel;

const ByteScan& resolveBlockScan() {
  if (blockScan == nullptr) {
#if LOOKUP_HAVE_SSE2
    if (processorHasAvx2()) blockLevel = ScanLevel::kAvx2;
#endif
    blockScan = byteScanAt(blockLevel);
  }
  return *blockScan;
}

// Weights of how often bytes stand in host tables, most common first; bytes not listed count as
// rarer than any listed.
constexpr char kCommonBytes[] =
    " \t\n0e1at2o.in3s4r5h6l7d8c9um-fpgwybvk_x:/jqzETAOINSRHLDCUMFPGWYBVKXJQZ=#";

constexpr int commonness(char c) {
  for (int i = 0; kCommonBytes[i] != '\0'; ++i) {
    if (kCommonBytes[i] == c) return static_cast<int>(sizeof kCommonBytes) - i;
  }
  return 0;
}

}  // namespace

CandidateTest candidateTestFor(const char* piece, size_t length, bool afterSpace,
                               FollowedBy followedBy) {
  // The rarest byte, then the rarest at another offset; of equals, the later.
  size_t best = 0, second = 0;
  for (size_t i = 1; i < length; ++i) {
    if (commonness(piece[i]) <= commonness(piece[best])) best = i;
  }
  second = best == 0 ? length - 1 : 0;
  for (size_t i = 0; i < length; ++i) {
    if (i != best && commonness(piece[i]) <= commonness(piece[second])) second = i;
  }
  return {piece, length, best, second, afterSpace, followedBy};
}

RecordBits recordBits(const char* text, int usable) {
  return recordBitsWith<Baseline>(text, usable);
}
void restoreSpaces(char* slot) { restoreSpacesWith<Baseline>(slot); }
bool holdsByte(const char* slot, int length, char c) {
  return holdsByteWith<Baseline>(slot, length, c);
}
uint64_t fieldHash(const char* bytes, int length) { return fieldHashWith<Baseline>(bytes, length); }
size_t firstNewline(const char* text, size_t limit) {
  return firstNewlineWith<Baseline>(text, limit);
}
void blockBits(const char* text, size_t size, const BlockMaps& maps) {
  if (size < kProbeWorthwhile) return blockBitsWith<Baseline>(text, size, maps);
  resolveBlockScan().blockBits(text, size, maps);
}

size_t lastNewline(const char* text, size_t from, size_t to) {
  if (to - from < kProbeWorthwhile) return lastNewlineWith<Baseline>(text, from, to);
  return resolveBlockScan().lastNewline(text, from, to);
}

bool newlineInEverySpan(const char* text, size_t size, size_t span) {
  if (size < kProbeWorthwhile) return newlineInEverySpanWith<Baseline>(text, size, span);
  return resolveBlockScan().newlineInEverySpan(text, size, span);
}

Candidates nextCandidates(const char* text, size_t size, size_t from, const CandidateTest& test) {
  if (size - from < kProbeWorthwhile) return kBaselineScan.nextCandidates(text, size, from, test);
  return resolveBlockScan().nextCandidates(text, size, from, test);
}

const ByteScan* byteScanAt(ScanLevel level) {
  switch (level) {
    case ScanLevel::kScalar:
      return &kPortable;
#if LOOKUP_HAVE_SSE2
    case ScanLevel::kSse2:
      return &kSse2;
    case ScanLevel::kAvx2:
      return processorHasAvx2() ? &kAvx2 : nullptr;
#endif
#if LOOKUP_HAVE_NEON
    case ScanLevel::kNeon:
      return &kNeon;
#endif
    default:
      return nullptr;
  }
}

ScanLevel blockScanLevel() {
  resolveBlockScan();
  return blockLevel;
}

bool forceBlockScanLevel(ScanLevel level) {
  const ByteScan* scan = byteScanAt(level);
  if (scan == nullptr) return false;
  blockScan = scan;
  blockLevel = level;
  return true;
}
