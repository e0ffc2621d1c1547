// The forms of the primitives, from the lane sets, in the order they are preferred: the baseline
// of the build (SSE2, NEON or the portable form) for record-sized work, AVX2 for the block scans
// where the processor has it, and AVX-512 for the block's maps where it has that too; the probes
// that find them, and the hook by which tests force a form.
// A new instruction set is a lanes file and its form here; a new primitive is its contract and a
// member of ByteScan in byte_scan.h, its algorithm and its entry in byteScanWith in generic.h, and
// its public function here.
#include "byte_scan.h"
#include "generic.h"
#include "lanes_avx2.h"
#include "lanes_avx512.h"
#include "lanes_neon.h"
#include "lanes_portable.h"
#include "lanes_sse2.h"
#if LOOKUP_HAVE_SSE2
#include <cpuid.h>
#endif

namespace {

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
__attribute__((target("avx2"), flatten)) bool blockBitsAvx2(const char* text, size_t size,
                                                            const BlockMaps& maps) {
  return blockBitsWith<Avx2>(text, size, maps);
}
__attribute__((target("avx2"), flatten)) bool newlineInEverySpanAvx2(const char* text, size_t size,
                                                                     size_t span) {
  return newlineInEverySpanWith<Avx2>(text, size, span);
}
__attribute__((target("avx2"), flatten)) size_t lastNewlineAvx2(const char* text, size_t from,
                                                                size_t to) {
  return lastNewlineWith<Avx2>(text, from, to);
}
__attribute__((target("avx2"), flatten)) Candidates nextTailsAvx2(const char* text, size_t size,
                                                                  size_t from, const TailSet& set) {
  return nextTailsWith<Avx2>(text, size, from, set);
}
// Record-sized work stays in SSE2: a record fits in a few loads of sixteen.
constexpr ByteScan kAvx2 = [] {
  ByteScan scan = kSse2;
  scan.nextTails = nextTailsAvx2;
  scan.nextCandidates = nextCandidatesAvx2;
  scan.lastNewline = lastNewlineAvx2;
  scan.newlineInEverySpan = newlineInEverySpanAvx2;
  scan.blockBits = blockBitsAvx2;
  return scan;
}();

// The block's maps in AVX-512, the rest as in AVX2: the maps take one mask instruction a word, and
// a reader of every record makes them for every block.
__attribute__((target("avx512f,avx512bw"), flatten)) bool blockBitsAvx512(const char* text,
                                                                          size_t size,
                                                                          const BlockMaps& maps) {
  return blockBitsWith<Avx512>(text, size, maps);
}
constexpr ByteScan kAvx512 = [] {
  ByteScan scan = kAvx2;
  scan.blockBits = blockBitsAvx512;
  return scan;
}();

// The processor probes. Whether the system saves a register state is XCR0's answer, asked only
// where the processor says the system may be asked (OSXSAVE); the instruction sets are in the
// extended features (leaf 7).
unsigned savedRegisterState() {
  unsigned xcr0, xcr0High;
  __asm__("xgetbv" : "=a"(xcr0), "=d"(xcr0High) : "c"(0));
  return xcr0;
}
bool hasExtendedFeatures(unsigned wanted) {
  unsigned eax, ebx, ecx, edx;
  return __get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx) && (ebx & wanted) == wanted;
}

bool processorHasAvx2() {
#if defined(LOOKUP_BASELINE_ONLY)
  return false;
#endif
  unsigned eax, ebx, ecx, edx;
  if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx) || (ecx & bit_OSXSAVE) == 0) return false;
  // The system must save the vector registers: XCR0 bits 1 (SSE) and 2 (AVX).
  if ((savedRegisterState() & 6) != 6) return false;
  // Every processor with AVX2 has BMI1 and BMI2, which code beside the AVX2 form may take for
  // granted; a virtual machine that hides them gets the baseline.
  return hasExtendedFeatures(bit_AVX2 | bit_BMI | bit_BMI2);
}

// The system must also save the mask registers and all of the wider ones: XCR0 bits 5 to 7.
bool processorHasAvx512() {
  return processorHasAvx2() && (savedRegisterState() & 0xe0) == 0xe0 &&
         hasExtendedFeatures(bit_AVX512F | bit_AVX512BW);
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
    if (processorHasAvx512()) {
      blockLevel = ScanLevel::kAvx512;
    } else if (processorHasAvx2()) {
      blockLevel = ScanLevel::kAvx2;
    }
#endif
    blockScan = byteScanAt(blockLevel);
  }
  return *blockScan;
}

}  // namespace

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
bool blockBits(const char* text, size_t size, const BlockMaps& maps) {
  if (size < kProbeWorthwhile) return blockBitsWith<Baseline>(text, size, maps);
  return resolveBlockScan().blockBits(text, size, maps);
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

// Unlike the lookup's scans, one for several pieces is worth the probe in any table: the baseline
// may have to compare each piece on its own.
Candidates nextTails(const char* text, size_t size, size_t from, const TailSet& set) {
  return resolveBlockScan().nextTails(text, size, from, set);
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
    case ScanLevel::kAvx512:
      return processorHasAvx512() ? &kAvx512 : nullptr;
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
