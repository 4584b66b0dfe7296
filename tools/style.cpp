#include "style.hpp"

namespace tarvik {
namespace oxpm {

bool use_colour(bool is_terminal, const char* no_color) {
  return is_terminal && no_color == nullptr;
}

std::string style::paint(const char* code, const std::string& text) const {
  if (!colour_) {
    return text;
  }
  return std::string("\x1b[") + code + "m" + text + "\x1b[0m";
}

std::string printable(const std::string& text) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(text.size());
  for (unsigned char c : text) {
    if (c < 0x20 || c == 0x7f) {
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 0xf];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

std::string quoted(const std::string& text) {
  std::string escaped;
  escaped.reserve(text.size() + 2);
  for (char c : text) {
    if (c == '"' || c == '\\') {
      escaped += '\\';
    }
    escaped += c;
  }
  return "\"" + printable(escaped) + "\"";
}

std::string shown_id(const std::string& id) {
  for (unsigned char c : id) {
    if (c <= 0x20 || c == 0x7f || c == '"' || c == '\\') {
      return quoted(id);
    }
  }
  return id.empty() ? quoted(id) : id;
}

std::string human_version(const ox::version& v, bool upper_bound) {
  std::size_t keep = v.components.size();
  if (upper_bound) {
    while (keep > 0 && v.components[keep - 1] == ox::version::kMaxComponent) {
      --keep;
    }
  }
  std::string out;
  for (std::size_t i = 0; i < v.components.size(); ++i) {
    if (i > 0) {
      out += '.';
    }
    out += i < keep ? std::to_string(v.components[i]) : std::string("*");
  }
  return out;
}

std::string human_range(const ox::version_range& range) {
  const ox::version lowest("0.0.0.0");
  const ox::version greatest;
  const bool from_lowest = range.min <= lowest;
  const bool to_greatest = range.max >= greatest;
  if (range.min <= range.max && range.min >= range.max) {
    return "exactly " + range.min.getversion();
  }
  if (from_lowest && to_greatest) {
    return "any version";
  }
  if (from_lowest) {
    return "up to " + human_version(range.max, true);
  }
  if (to_greatest) {
    return range.min.getversion() + " or later";
  }
  return range.min.getversion() + " to " + human_version(range.max, true);
}

std::string human_ranges(const ox::version_ranges& ranges) {
  if (ranges.ranges.empty()) {
    return "no version at all";
  }
  std::string out;
  for (std::size_t i = 0; i < ranges.ranges.size(); ++i) {
    if (i > 0) {
      out += " or ";
    }
    out += human_range(ranges.ranges[i]);
  }
  return out;
}

std::string plural(std::size_t count, const std::string& one, const std::string& many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

}  // namespace oxpm
}  // namespace tarvik
