#include "json_out.hpp"

#include <utility>

namespace tarvik {
namespace oxpm {

using json = nlohmann::ordered_json;

std::string dump_json(const json& document) {
  return document.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

object_builder::object_builder(std::size_t members) : value_(json::value_t::object) {
  value_.get_ref<json::object_t&>().reserve(members);
}

object_builder& object_builder::add(const char* key, json value) {
  value_.get_ref<json::object_t&>().json::object_t::Container::emplace_back(key, std::move(value));
  return *this;
}

json array_of(std::size_t reserved) {
  json out(json::value_t::array);
  out.get_ref<json::array_t&>().reserve(reserved);
  return out;
}

}  // namespace oxpm
}  // namespace tarvik
