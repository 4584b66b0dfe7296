// What every JSON document of oxpm shares: the version of the field set that
// scripts rely on, and how a document is written.
#ifndef TARVIK_OXPM_TOOLS_JSON_OUT_HPP_
#define TARVIK_OXPM_TOOLS_JSON_OUT_HPP_

#include <cstddef>
#include <nlohmann/json.hpp>
#include <string>

namespace tarvik {
namespace oxpm {

// Raised when a field is removed or renamed, or changes its meaning; fields
// added beside the others leave it as it is. docs/schema/ describes each
// document at this version.
constexpr int kJsonSchemaVersion = 1;

// The document as text, indented, with a final newline; bytes that are not
// UTF-8 are replaced, so the output is always valid JSON.
std::string dump_json(const nlohmann::ordered_json& document);

// ordered_json keeps an object's members in a vector, in insertion order.
// operator[] searches the keys and lets the vector re-allocate as it grows,
// copying every member with all the values nested in it (the pairs' keys are
// const, so they cannot move). Large documents are built instead by
// appending to a vector reserved for their members.
class object_builder {
 public:
  explicit object_builder(std::size_t members);
  object_builder& add(const char* key, nlohmann::ordered_json value);
  nlohmann::ordered_json take() { return std::move(value_); }

 private:
  nlohmann::ordered_json value_;
};

nlohmann::ordered_json array_of(std::size_t reserved);

}  // namespace oxpm
}  // namespace tarvik

#endif  // TARVIK_OXPM_TOOLS_JSON_OUT_HPP_
