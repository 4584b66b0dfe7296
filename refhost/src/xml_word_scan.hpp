// The word-at-a-time helpers of the two scans over a document's raw text
// (xml_utf8.cpp, xml_prescan.cpp). Included by those files only: they are
// compiled once more with OX_REFHOST_BYTE_SCAN (refhost/CMakeLists.txt), so
// everything here has internal linkage and the two builds never share a
// definition.
//
// The scans read several bytes at a time: SSE2 where the target has it,
// eight-byte words everywhere. Built with OX_REFHOST_BYTE_SCAN (the CMake
// option OX_REFHOST_WORD_SCAN=OFF) they read one byte at a time and leave
// the rest to memchr.
#ifndef TARVIK_OX_REFHOST_SRC_XML_WORD_SCAN_HPP_
#define TARVIK_OX_REFHOST_SRC_XML_WORD_SCAN_HPP_

#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__) && !defined(OX_REFHOST_BYTE_SCAN)
#define OX_REFHOST_SSE2_SCAN 1
#include <emmintrin.h>
#endif

namespace {

#ifdef OX_REFHOST_BYTE_SCAN
constexpr bool kWordScan = false;
#else
constexpr bool kWordScan = true;
#endif

// Eight bytes at a time: most of a catalog is ASCII in short runs.
constexpr std::uint64_t kHighBits = 0x8080808080808080ull;
constexpr std::uint64_t kLowBits = 0x0101010101010101ull;

// Eight bytes with the first one in the lowest bits, whatever the machine.
inline std::uint64_t load_word(const void* at) {
  std::uint64_t word;
  std::memcpy(&word, at, sizeof(word));
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  word = __builtin_bswap64(word);
#endif
  return word;
}

// The high bit of the first zero byte of `word` is the lowest bit set; bytes
// after it may be flagged too. Zero when no byte is zero.
inline std::uint64_t zero_bytes(std::uint64_t word) {
  return (word - kLowBits) & ~word & kHighBits;
}

inline std::size_t first_flagged_byte(std::uint64_t flags) {
  return static_cast<std::size_t>(__builtin_ctzll(flags)) / 8;
}

}  // namespace

#endif  // TARVIK_OX_REFHOST_SRC_XML_WORD_SCAN_HPP_
