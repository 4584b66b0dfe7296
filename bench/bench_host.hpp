// A reference host wired as `oxpm resolve` wires it, for the benchmarks: one
// context with a logger (no sink, as the tool runs without --log), the six
// managers, and an in-memory installed-application store.
#ifndef TARVIK_OX_BENCH_BENCH_HOST_HPP_
#define TARVIK_OX_BENCH_BENCH_HOST_HPP_

#include <memory>
#include <string>
#include <vector>

#include "tarvik/ox/managers.hpp"
#include "tarvik/ox/package_manager.hpp"
#include "tarvik/ox/package_spec_manager.hpp"
#include "tarvik/ox/software_conflict_manager.hpp"
#include "tarvik/ox/software_dependency_manager.hpp"
#include "tarvik/ox/software_repo_manager.hpp"
#include "tarvik/ox/system_software_database_manager.hpp"
#include "tarvik/ox_refhost/context.hpp"
#include "tarvik/ox_refhost/logger.hpp"
#include "tarvik/ox_refhost/store.hpp"
#include "workload.hpp"

namespace tarvik {
namespace ox_bench {

// "plain" runs the reference linear walks, "indexed" the default fast path.
enum class lookup_mode { plain, indexed };

class bench_host {
 public:
  explicit bench_host(lookup_mode mode = lookup_mode::indexed)
      : store_(std::make_shared<ox_refhost::memory_store_source>()),
        set_(ox::make_managers(context_.get(), std::string())),
        spec(set_.spec),
        repo(set_.repo),
        softdb(set_.softdb),
        dependency(set_.dependency),
        conflict(set_.conflicts),
        package(set_.package) {
    context_.set_logger(&logger_);
    const bool indexed = mode == lookup_mode::indexed;
    spec->set_indexed_lookups(indexed);
    dependency->set_indexed_scans(indexed);
  }
  bench_host(const bench_host&) = delete;
  bench_host& operator=(const bench_host&) = delete;
  ~bench_host() {
    set_ = ox::managers();
    package.reset();
    conflict.reset();
    dependency.reset();
    softdb.reset();
    repo.reset();
    spec.reset();
    context_.set_logger(nullptr);
  }

  // Imports the workload's catalog and installs its installed list.
  void load(const workload& w) {
    spec->set_platform(w.options.platform);
    spec->import(w.spec_xml.data(), w.spec_xml.size());
    std::vector<ox_refhost::installed_application> apps;
    apps.reserve(w.installed.size());
    for (const package_version& p : w.installed) {
      apps.push_back({p.id, p.version});
    }
    store_->set_applications(std::move(apps));
  }

  // One package_manager::resolve, the store reading this host's installed
  // list.
  std::vector<ox::installing_software> resolve(const std::vector<ox::software>& install) {
    const ox_refhost::scoped_store_source source(store_);
    return package->resolve({}, install);
  }

  ox_context_s* context() const { return context_.get(); }

 private:
  ox_refhost::logger logger_;
  ox_refhost::context context_;
  std::shared_ptr<ox_refhost::memory_store_source> store_;
  ox::managers set_;

 public:
  std::shared_ptr<ox::package_spec_manager> spec;
  std::shared_ptr<ox::software_repo_manager> repo;
  std::shared_ptr<ox::system_software_database_manager> softdb;
  std::shared_ptr<ox::software_dependency_manager> dependency;
  std::shared_ptr<ox::software_conflict_manager> conflict;
  std::shared_ptr<ox::package_manager> package;
};

inline std::vector<ox::software> to_software(const std::vector<package_version>& list) {
  std::vector<ox::software> out;
  out.reserve(list.size());
  for (const package_version& p : list) {
    out.emplace_back(p.id, ox::version(p.version), p.version);
  }
  return out;
}

// One workload per size and pattern flag, generated on first use (seed 1).
inline const workload& cached_workload(const workload_size& size, bool patterns) {
  static std::vector<std::unique_ptr<workload>> cache;
  for (const std::unique_ptr<workload>& w : cache) {
    if (w->options.size.elements == size.elements && w->options.size.installed == size.installed &&
        w->options.size.requested == size.requested && w->options.patterns == patterns) {
      return *w;
    }
  }
  workload_options options;
  options.size = size;
  options.patterns = patterns;
  cache.push_back(std::make_unique<workload>(generate(options)));
  return *cache.back();
}

// The large request (M = 2,000, K = 500) against the huge catalog
// (N = 100,000): what a larger catalog alone costs.
inline constexpr workload_size kHugeCatalog{100000, 2000, 500};

// 0 small, 1 large, 2 huge, 3 the large request against the huge catalog.
inline workload_size size_by_index(long index) {
  return index == 0 ? kSmall : index == 1 ? kLarge : index == 2 ? kHuge : kHugeCatalog;
}

inline const char* size_name(long index) {
  return index == 0 ? "small" : index == 1 ? "large" : index == 2 ? "huge" : "huge-catalog";
}

}  // namespace ox_bench
}  // namespace tarvik

#endif  // TARVIK_OX_BENCH_BENCH_HOST_HPP_
