#include "tarvik/ox/software.hpp"

#include <utility>

namespace tarvik {
namespace ox {

software::software() = default;

software::software(const std::string& id, const tarvik::ox::version& ver) : id(id), version(ver) {}

software::software(const std::string& id, const tarvik::ox::version& ver,
                   const std::string& version_text)
    : id(id), version(ver), version_text(version_text) {}

installing_software::installing_software() = default;

installing_software::installing_software(software sw) : id(std::move(sw.id)), version(sw.version) {}

installing_software::installing_software(software sw, software_state st)
    : id(std::move(sw.id)), version(sw.version), state(st) {}

installing_software::operator software() const {
  software sw;
  sw.set_id(id);
  sw.set_ver(version);
  return sw;
}

}  // namespace ox
}  // namespace tarvik
