#include "tarvik/ox/version.hpp"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <string>

#include "core/version_text.hpp"

namespace tarvik {
namespace ox {
namespace {

bool is_c_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Reads [begin, end) as atoi does: blanks, one sign, digits up to the first
// non-digit. Accumulating in 32 bits gives the value modulo 2^32 for any
// number of digits, so an over-long piece is defined instead of overflowing.
std::uint32_t read_piece(const char* begin, const char* end) {
  const char* p = begin;
  while (p != end && is_c_space(*p)) {
    ++p;
  }
  bool negative = false;
  if (p != end && (*p == '+' || *p == '-')) {
    negative = *p == '-';
    ++p;
  }
  std::uint32_t value = 0;
  while (p != end && *p >= '0' && *p <= '9') {
    value = value * 10u + static_cast<std::uint32_t>(*p - '0');
    ++p;
  }
  return negative ? static_cast<std::uint32_t>(0u - value) : value;
}

// assign on a piece of text; the reading of ranges below works on slices of
// one text rather than on copies of it. One pass: each piece is read where it
// starts, and only a piece with something after its number is searched for
// the "." that ends it.
void assign_components(std::array<std::uint32_t, 4>& components, const char* data,
                       std::size_t size) {
  const char* const end = data + size;
  // A text without any "." supplies no piece at all.
  if (size == 0 || std::memchr(data, '.', size) == nullptr) {
    return;
  }
  const char* piece = data;
  for (std::size_t i = 0; i < components.size(); ++i) {
    const char* stop = piece;
    std::uint32_t value = 0;
    // The common piece is digits alone, ended by "." or the end of the text.
    while (stop != end && *stop >= '0' && *stop <= '9') {
      value = value * 10u + static_cast<std::uint32_t>(*stop - '0');
      ++stop;
    }
    if (stop != end && *stop != '.') {
      stop = std::find(stop, end, '.');
      value = read_piece(piece, stop);
    }
    components[i] = value;
    if (stop == end) {
      break;
    }
    piece = stop + 1;
  }
}

void floor_components(version& v, const char* data, std::size_t size) {
  v.zeroize();
  assign_components(v.components, data, size);
}

void ceil_components(version& v, const char* data, std::size_t size) {
  v.maxmize();
  assign_components(v.components, data, size);
}

void set_range(version_range& range, const char* data, std::size_t size) {
  const char* const end = data + size;
  const char* const colon = std::find(data, end, ':');
  if (colon != end) {
    floor_components(range.min, data, static_cast<std::size_t>(colon - data));
    ceil_components(range.max, colon + 1, static_cast<std::size_t>(end - colon - 1));
    return;
  }
  floor_components(range.min, data, size);
  if (size == 1 && data[0] == '0') {
    floor_components(range.max, data, size);
  } else {
    ceil_components(range.max, data, size);
  }
}

}  // namespace

version::version() {
  maxmize();
}

version::version(const std::string& text) {
  floor(text);
}

void version::assign(const std::string& text) {
  assign_components(components, text.data(), text.size());
}

void version::floor(const std::string& text) {
  zeroize();
  assign(text);
}

void version::ceil(const std::string& text) {
  maxmize();
  assign(text);
}

void version::zeroize() {
  components = {0u, 0u, 0u, 0u};
}

void version::maxmize() {
  components = {kMaxComponent, kMaxComponent, kMaxComponent, kMaxComponent};
}

std::string version::getversion() const {
  char buffer[internal::kMaxVersionText];
  return std::string(buffer, internal::write_version(*this, buffer));
}

bool version::operator<=(const version& other) const {
  for (std::size_t i = 0; i < components.size(); ++i) {
    if (components[i] != other.components[i]) {
      return components[i] < other.components[i];
    }
  }
  return true;
}

bool version::operator>=(const version& other) const {
  return other <= *this;
}

version_range::version_range() = default;

void version_range::set(std::string text) {
  set_range(*this, text.data(), text.size());
}

void version_range::set_min(const std::string& text) {
  min.floor(text);
}

void version_range::set_max(const std::string& text) {
  max.ceil(text);
}

void version_range::set_max_exact(const std::string& text) {
  max.floor(text);
}

bool version_range::is_valid() const {
  return min <= max;
}

bool version_range::is_within(const version& v) const {
  return min <= v && max >= v;
}

void version_ranges::set(std::string text) {
  internal::append_ranges(ranges, text.data(), text.size());
}

std::string version_ranges::get() const {
  std::string text;
  // "min:max" of two greatest versions and a "|": one reservation for the
  // usual short list.
  text.reserve(ranges.size() * (2 * internal::kMaxVersionText + 2));
  char buffer[internal::kMaxVersionText];
  for (std::size_t i = 0; i < ranges.size(); ++i) {
    if (i != 0) {
      text += '|';
    }
    text.append(buffer, internal::write_version(ranges[i].min, buffer));
    text += ':';
    text.append(buffer, internal::write_version(ranges[i].max, buffer));
  }
  return text;
}

bool version_ranges::is_within(const version& v) const {
  for (const version_range& range : ranges) {
    if (range.is_within(v)) {
      return true;
    }
  }
  return false;
}

namespace internal {

std::size_t write_version(const version& v, char* out) {
  char* p = out;
  for (std::size_t i = 0; i < v.components.size(); ++i) {
    if (i != 0) {
      *p++ = '.';
    }
    p = std::to_chars(p, out + kMaxVersionText, v.components[i]).ptr;
  }
  return static_cast<std::size_t>(p - out);
}

void append_ranges(std::vector<version_range>& ranges, const char* data, std::size_t size) {
  const char* const end = data + size;
  const char* start = data;
  const char* bar = static_cast<const char*>(std::memchr(data, '|', size));
  if (bar != nullptr) {
    // Room for every range of the list at once rather than by doubling.
    ranges.reserve(ranges.size() + 1 + static_cast<std::size_t>(std::count(bar, end, '|')));
  } else {
    bar = end;
  }
  for (;;) {
    version_range range;
    set_range(range, start, static_cast<std::size_t>(bar - start));
    if (range.is_valid()) {
      ranges.push_back(range);
    }
    if (bar == end) {
      return;
    }
    start = bar + 1;
    bar = std::find(start, end, '|');
  }
}

}  // namespace internal

}  // namespace ox
}  // namespace tarvik
