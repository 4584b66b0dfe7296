// The JSON inventory reader (store.hpp).
#include <cstddef>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "store_internal.hpp"
#include "tarvik/ox_refhost/store.hpp"

namespace tarvik {
namespace ox_refhost {
namespace {

using store_internal::has_control;
using store_internal::printable;

// ---------------------------------------------------------------------------
// JSON inventory. Read through the SAX interface: the records are built as
// the text is read, no document tree is kept, and nesting is bounded before
// it can cost anything.

using json = nlohmann::json;

const char* json_kind(json::value_t type) {
  switch (type) {
    case json::value_t::null:
      return "null";
    case json::value_t::boolean:
      return "a boolean";
    case json::value_t::number_integer:
    case json::value_t::number_unsigned:
    case json::value_t::number_float:
      return "a number";
    case json::value_t::string:
      return "a string";
    case json::value_t::array:
      return "an array";
    case json::value_t::object:
      return "an object";
    default:
      return "a binary value";
  }
}

class inventory_reader : public nlohmann::json_sax<json> {
 public:
  explicit inventory_reader(std::vector<installed_application>& out) : out_(out) {}

  bool null() override { return value(json::value_t::null, nullptr); }
  bool boolean(bool /*val*/) override { return value(json::value_t::boolean, nullptr); }
  bool number_integer(number_integer_t /*val*/) override {
    return value(json::value_t::number_integer, nullptr);
  }
  bool number_unsigned(number_unsigned_t /*val*/) override {
    return value(json::value_t::number_unsigned, nullptr);
  }
  bool number_float(number_float_t /*val*/, const string_t& /*s*/) override {
    return value(json::value_t::number_float, nullptr);
  }
  bool string(string_t& val) override { return value(json::value_t::string, &val); }
  bool binary(binary_t& /*val*/) override { return value(json::value_t::binary, nullptr); }

  bool start_object(std::size_t /*elements*/) override {
    if (depth_ == 1) {
      ++entry_;
      id_.reset();
      version_.reset();
      has_version_key_ = false;
      unknown_key_.reset();
    } else if (!value(json::value_t::object, nullptr)) {
      return false;
    }
    return enter();
  }

  bool key(string_t& val) override {
    if (depth_ == 2) {
      key_ = std::move(val);
      const bool repeated =
          (key_ == "id" && id_.has_value()) || (key_ == "version" && has_version_key_);
      if (repeated) {
        return shape("entry " + std::to_string(entry_) + ": \"" + key_ + "\" appears twice");
      }
      // Reported once the entry is read, so that the message can name its id.
      if (key_ != "id" && key_ != "version" && !unknown_key_.has_value()) {
        unknown_key_ = key_;
      }
    }
    return true;
  }

  bool end_object() override {
    --depth_;
    if (depth_ == 1) {
      if (!id_.has_value()) {
        return shape("entry " + std::to_string(entry_) + ": no \"id\"");
      }
      if (unknown_key_.has_value()) {
        // A misspelt "version" would otherwise leave the software without one.
        return shape("entry " + std::to_string(entry_) + " (\"" + printable(*id_) +
                     "\"): unknown key \"" + printable(*unknown_key_) +
                     "\" (an entry has \"id\" and \"version\" only)");
      }
      out_.push_back(installed_application{std::move(*id_), std::move(version_)});
    }
    return true;
  }

  bool start_array(std::size_t /*elements*/) override {
    if (depth_ != 0 && !value(json::value_t::array, nullptr)) {
      return false;
    }
    return enter();
  }

  bool end_array() override {
    --depth_;
    return true;
  }

  bool parse_error(std::size_t /*position*/, const std::string& /*last_token*/,
                   const nlohmann::detail::exception& ex) override {
    std::string_view what = ex.what();
    // "[json.exception.parse_error.101] parse error at line 1, column 2: ..."
    const std::size_t bracket = what.find("] ");
    if (!what.empty() && what.front() == '[' && bracket != std::string_view::npos) {
      what.remove_prefix(bracket + 2);
    }
    code = OX_ERROR_PARSE;
    error = "malformed JSON: " + printable(what);
    return false;
  }

  ox_error_e code = OX_OK;
  std::string error;

 private:
  bool enter() {
    ++depth_;
    if (depth_ > kMaxInventoryDepth) {
      code = OX_ERROR_LIMIT_EXCEEDED;
      error = "nested deeper than " + std::to_string(kMaxInventoryDepth) + " levels";
      return false;
    }
    return true;
  }

  bool shape(std::string message) {
    code = OX_ERROR_PARSE;
    error = std::move(message);
    return false;
  }

  // A value begins (a scalar, or the start of an array or object) at the
  // current depth.
  bool value(json::value_t type, string_t* text) {
    if (depth_ == 0) {
      return shape(std::string("the top-level value is ") + json_kind(type) + ", not an array");
    }
    if (depth_ == 1) {
      ++entry_;
      return shape("entry " + std::to_string(entry_) + " is " + json_kind(type) +
                   ", not an object");
    }
    if (depth_ > 2) {
      return true;
    }
    const std::string where = "entry " + std::to_string(entry_) + ": ";
    if (key_ == "id") {
      if (type != json::value_t::string) {
        return shape(where + "\"id\" is " + json_kind(type) + ", not a string");
      }
      if (text->empty()) {
        return shape(where + "\"id\" is empty");
      }
      if (has_control(*text)) {
        return shape(where + "\"id\" holds a control character");
      }
      id_ = std::move(*text);
    } else if (key_ == "version") {
      has_version_key_ = true;
      if (type == json::value_t::null) {
        version_.reset();
      } else if (type != json::value_t::string) {
        return shape(where + "\"version\" is " + json_kind(type) + ", not a string or null");
      } else if (has_control(*text)) {
        return shape(where + "\"version\" holds a control character");
      } else {
        version_ = std::move(*text);
      }
    }
    return true;
  }

  std::vector<installed_application>& out_;
  std::size_t depth_ = 0;
  std::size_t entry_ = 0;
  std::string key_;
  std::optional<std::string> id_;
  std::optional<std::string> version_;
  bool has_version_key_ = false;
  std::optional<std::string> unknown_key_;
};

}  // namespace

ox_error_e parse_inventory_json(std::string_view text, std::vector<installed_application>& out,
                                std::string& error) {
  out.clear();
  if (text.find_first_not_of(" \t\r\n") == std::string_view::npos) {
    error = "empty input, expected a JSON array";
    return OX_ERROR_PARSE;
  }
  inventory_reader reader(out);
  const bool ok = json::sax_parse(text.begin(), text.end(), &reader);
  if (!ok || reader.code != OX_OK) {
    out.clear();
    if (reader.code == OX_OK) {
      reader.code = OX_ERROR_PARSE;
      reader.error = "malformed JSON";
    }
    error = std::move(reader.error);
    return reader.code;
  }
  return OX_OK;
}

}  // namespace ox_refhost
}  // namespace tarvik
