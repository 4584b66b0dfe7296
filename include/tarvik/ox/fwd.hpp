// Forward declarations of the managers, for headers that only wire them.
#ifndef TARVIK_OX_FWD_HPP_
#define TARVIK_OX_FWD_HPP_

namespace tarvik {
namespace ox {

class package_manager;
class package_spec_manager;
class software_conflict_manager;
class software_dependency_manager;
class software_repo_manager;
class system_software_database_manager;

}  // namespace ox
}  // namespace tarvik

#endif  // TARVIK_OX_FWD_HPP_
