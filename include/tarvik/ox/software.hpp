// The records a resolution passes around: software named by the host, the
// same software under resolution with its state and findings, and a detected
// conflict. Plain values: copy freely; a record may be read from any number
// of threads while none changes it.
#ifndef TARVIK_OX_SOFTWARE_HPP_
#define TARVIK_OX_SOFTWARE_HPP_

#include <cstdint>
#include <string>
#include <vector>

#include "tarvik/ox/version.hpp"

namespace tarvik {
namespace ox {

// Bit set; the library only ever adds bits (|) and tests single bits (&).
enum software_state : std::uint32_t {
  SOFTWARE_STATE_INSTALL = 1,
  SOFTWARE_STATE_INSTALLED = 2,
  SOFTWARE_STATE_UNINSTALL = 4,
  SOFTWARE_STATE_MARKED_UNINSTALL = 8,
};

inline software_state operator|(software_state a, software_state b) {
  return static_cast<software_state>(static_cast<std::uint32_t>(a) | static_cast<std::uint32_t>(b));
}
inline software_state& operator|=(software_state& a, software_state b) {
  return a = a | b;
}
inline bool has_state(software_state state, software_state bit) {
  return (static_cast<std::uint32_t>(state) & static_cast<std::uint32_t>(bit)) != 0;
}

class software {
 public:
  // Empty texts, the greatest version.
  software();
  software(const std::string& id, const tarvik::ox::version& ver);
  software(const std::string& id, const tarvik::ox::version& ver, const std::string& version_text);

  std::string get_id() const { return id; }
  tarvik::ox::version get_version() const { return this->version; }
  void set_id(const std::string& new_id) { id = new_id; }
  void set_ver(const tarvik::ox::version& ver) { this->version = ver; }
  void set_name(const std::string& new_name) { name = new_name; }

  std::string id;
  std::string name;
  tarvik::ox::version version;
  // The requirement text of an unmet dependency; empty otherwise.
  std::string version_text;
};

struct conflict_info {
  std::string id;
  std::int32_t action = 0;
};

class installing_software {
 public:
  // Empty id, greatest version, state SOFTWARE_STATE_INSTALL, no findings.
  installing_software();
  explicit installing_software(software sw);
  installing_software(software sw, software_state st);

  // Keeps id and version only; name and version_text stay empty.
  operator software() const;  // NOLINT(google-explicit-constructor)

  std::string id;
  tarvik::ox::version version;
  std::uint32_t reserved = 0;
  software_state state = SOFTWARE_STATE_INSTALL;
  std::vector<software> failed_dependencies;
  std::vector<software> failed_compatibilities;
  std::vector<conflict_info> detected_conflicts;
};

}  // namespace ox
}  // namespace tarvik

#endif  // TARVIK_OX_SOFTWARE_HPP_
