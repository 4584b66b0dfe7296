// The UTF-8 check of a document's raw text (xml_internal.hpp).
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "tarvik/ox_refhost/xml.hpp"
#include "xml_internal.hpp"
#include "xml_word_scan.hpp"

namespace {

bool is_continuation(unsigned char c) {
  return (c & 0xC0) == 0x80;
}

}  // namespace

namespace tarvik {
namespace ox_refhost {
namespace xml_internal {

std::size_t first_invalid_utf8(const unsigned char* text, std::size_t size) {
  std::size_t i = 0;
  while (i < size) {
#ifdef OX_REFHOST_SSE2_SCAN
    // Thirty-two bytes at a time while there is no high bit and no zero.
    const __m128i zero = _mm_setzero_si128();
    while (size - i >= 32) {
      const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i));
      const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i + 16));
      const __m128i special = _mm_or_si128(
          _mm_or_si128(a, b), _mm_or_si128(_mm_cmpeq_epi8(a, zero), _mm_cmpeq_epi8(b, zero)));
      if (_mm_movemask_epi8(special) != 0) {
        break;
      }
      i += 32;
    }
#endif
    while (kWordScan && size - i >= 8) {
      const std::uint64_t word = load_word(text + i);
      // A NUL is found, and placed, by the byte loop.
      if ((word & kHighBits) != 0 || zero_bytes(word) != 0) {
        break;
      }
      i += 8;
    }
    if (i == size) {
      break;
    }
    const unsigned char c = text[i];
    if (c == 0) {
      return i;
    }
    if (c < 0x80) {
      ++i;
      continue;
    }
    std::size_t length = 0;
    unsigned char second_min = 0x80;
    unsigned char second_max = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
      length = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
      length = 3;
      if (c == 0xE0) {
        second_min = 0xA0;
      } else if (c == 0xED) {
        second_max = 0x9F;
      }
    } else if (c >= 0xF0 && c <= 0xF4) {
      length = 4;
      if (c == 0xF0) {
        second_min = 0x90;
      } else if (c == 0xF4) {
        second_max = 0x8F;
      }
    } else {
      return i;
    }
    if (size - i < length) {
      return i;
    }
    if (text[i + 1] < second_min || text[i + 1] > second_max) {
      return i;
    }
    for (std::size_t k = 2; k < length; ++k) {
      if (!is_continuation(text[i + k])) {
        return i;
      }
    }
    i += length;
  }
  return size;
}

bool is_utf8_without_nul(const unsigned char* text, std::size_t size) {
  return first_invalid_utf8(text, size) == size;
}

}  // namespace xml_internal

std::size_t first_invalid_utf8_byte(const char* text, std::size_t size) {
  const std::size_t at =
      xml_internal::first_invalid_utf8(reinterpret_cast<const unsigned char*>(text), size);
  return at == size ? static_cast<std::size_t>(-1) : at;
}

}  // namespace ox_refhost
}  // namespace tarvik
