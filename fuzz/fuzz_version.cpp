// Version and range texts: any input reads without failing, the text written
// by get() reads back to the same ranges, and comparison is a total order
// (antisymmetric, transitive).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_support.hpp"
#include "tarvik/ox/version.hpp"

namespace {

using tarvik::ox::version;
using tarvik::ox::version_range;
using tarvik::ox::version_ranges;
using tarvik::ox_fuzz::require;

bool equal(const version& a, const version& b) {
  return a <= b && a >= b;
}

void check_written_text_reads_back(const version_ranges& ranges) {
  const std::string written = ranges.get();
  version_ranges again;
  again.set(written);
  if (ranges.ranges.empty()) {
    require(written.empty(), "an empty list is written as the empty text");
    // The empty text is one range text that holds every version.
    require(again.ranges.size() == 1, "the empty text reads as one range");
    return;
  }
  require(again.get() == written, "get() of the text read back is the same text");
  require(again.ranges.size() == ranges.ranges.size(), "read back: same number of ranges");
  for (std::size_t i = 0; i < ranges.ranges.size(); ++i) {
    require(ranges.ranges[i].is_valid(), "only valid ranges are kept");
    require(equal(ranges.ranges[i].min, again.ranges[i].min), "read back: same lower bound");
    require(equal(ranges.ranges[i].max, again.ranges[i].max), "read back: same upper bound");
  }
  // The dependency check reads the written list as one version: the lower
  // bound of the first range.
  require(equal(version(written), ranges.ranges.front().min),
          "the written list read as a version is the first lower bound");
}

void check_order(const version& a, const version& b, const version& c) {
  require((a <= b) || (b <= a), "any two versions compare");
  require((a <= b) == (b >= a), "<= and >= mirror each other");
  if (a <= b && b <= a) {
    require(a.getversion() == b.getversion(), "antisymmetric: equal versions write alike");
  }
  if (a <= b && b <= c) {
    require(a <= c, "transitive");
  }
  if (b <= a && c <= b) {
    require(c <= a, "transitive (descending)");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text = tarvik::ox_fuzz::as_text(data, size);

  version_ranges ranges;
  ranges.set(text);
  require(ranges.ranges.size() <=
              static_cast<std::size_t>(std::count(text.begin(), text.end(), '|')) + 1,
          "at most one range per range text");
  check_written_text_reads_back(ranges);

  // Setting again appends: the earlier ranges stay in front.
  version_ranges twice = ranges;
  twice.set(text);
  require(twice.ranges.size() == 2 * ranges.ranges.size(), "a second set appends");

  // Three versions from three thirds of the input, read each way.
  const std::size_t third = size / 3;
  const version a(text.substr(0, third));
  const version b(text.substr(third, third));
  version c;
  c.ceil(text.substr(2 * third));
  version d;
  d.floor(text.substr(2 * third));
  require(d <= c, "floor of a text is at most its ceil");
  const version* const all[] = {&a, &b, &c, &d};
  for (const version* v : all) {
    const std::string written = v->getversion();
    require(written.size() <= 43, "getversion writes at most 43 characters");
    require(equal(version(written), *v), "getversion reads back to the same version");
    bool inside = false;
    for (const version_range& range : ranges.ranges) {
      inside = inside || (range.min <= *v && range.max >= *v);
    }
    require(ranges.is_within(*v) == inside, "is_within is within some range, bounds included");
  }
  check_order(a, b, c);
  check_order(c, d, a);

  // One range text read both ways: a lone version without ":" stands for the
  // versions that begin with it.
  version_range range;
  range.set(text);
  if (text.find(':') == std::string::npos && text != "0") {
    require(range.is_valid(), "a lone version is a valid range");
    require(range.is_within(range.min) && range.is_within(range.max), "bounds are inside");
  }
  return 0;
}
