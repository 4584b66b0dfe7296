#include "session.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "support/temp_file.hpp"
#include "tarvik/ox_refhost/logger.hpp"

namespace tarvik {
namespace oxpm {
namespace {

std::string example(const std::string& name) {
  return std::string(OXPM_EXAMPLES) + "/" + name;
}

class SessionInstalledTest : public ::testing::Test {
 protected:
  void write(const std::string& content) { file_.write(content); }

  ox_test::temp_file file_{std::string(), "oxpm_session"};
  const std::string& path_ = file_.path();
};

struct source_case {
  const char* label;
  installed_source::kind_t kind;
  const char* first;   // what the source holds when the session reads it
  const char* second;  // what it holds afterwards
  // How the library logs halden-db 5.2: a dpkg version reaches it read
  // into four parts.
  const char* scanned_db;
};

const source_case kSourceCases[] = {
    {"inventory", installed_source::kind_t::inventory,
     R"([{"id": "halden-runtime", "version": "2.4.0.0"}, {"id": "halden-db", "version": "5.2"}])",
     R"([{"id": "halden-agent", "version": "3.1.0.0"}])",
     "installed software id: halden-db, version: 5.2"},
    {"dpkg status", installed_source::kind_t::dpkg_status,
     "Package: halden-runtime\nStatus: install ok installed\nVersion: 2.4.0.0\n\n"
     "Package: halden-db\nStatus: install ok installed\nVersion: 1:5.2-3\n",
     "Package: halden-agent\nStatus: install ok installed\nVersion: 3.1.0.0\n",
     "installed software id: halden-db, version: 5.2.0.0"},
};

// The source is read once, before the resolution: the library's rescans see
// what was read then, whatever the file holds by the time they run. A second
// read would find a pipe drained.
TEST_F(SessionInstalledTest, EveryRescanSeesTheApplicationsReadBeforeTheResolution) {
  for (const source_case& c : kSourceCases) {
    write(c.first);
    session host;
    auto capture = std::make_shared<ox_refhost::capture_sink>();
    host.add_log_sink(capture);
    host.load_specs({example("halden-spec.xml")}, "linux-x64");
    host.use_installed({c.kind, path_});
    write(c.second);

    for (int round = 0; round < 2; ++round) {
      capture->clear();
      const resolution result =
          host.resolve({}, {ox::software("halden-backup", ox::version("3.0"))});
      std::vector<std::string> ids;
      for (const ox::installing_software& entry : result.resolved) {
        ids.push_back(entry.id + " " + entry.version.getversion());
      }
      EXPECT_EQ(ids, (std::vector<std::string>{"halden-runtime 2.4.0.0", "halden-db 5.2.0.0",
                                               "halden-backup 3.0.0.0"}))
          << c.label << ", resolution " << round;
      std::vector<std::string> scanned;
      for (const std::string& message : capture->messages()) {
        if (message.rfind("installed software id: ", 0) == 0) {
          scanned.push_back(message);
        }
      }
      EXPECT_EQ(scanned,
                (std::vector<std::string>{"installed software id: halden-runtime, version: 2.4.0.0",
                                          c.scanned_db}))
          << c.label << ", resolution " << round;
    }
  }
}

TEST_F(SessionInstalledTest, ASourceThatCannotBeReadIsAnInputErrorNamingIt) {
  struct bad_case {
    installed_source::kind_t kind;
    std::string path;
    const char* content;  // written to path_ when the path is path_
    std::string expected;
  };
  const std::vector<bad_case> cases = {
      {installed_source::kind_t::inventory, "/nonexistent/inventory.json", nullptr,
       "inventory /nonexistent/inventory.json: cannot open: No such file or directory (host "
       "error 100 (OX_ERROR_IO))"},
      {installed_source::kind_t::inventory, path_, "",
       "inventory " + path_ +
           ": empty input, expected a JSON array (host error 101 (OX_ERROR_PARSE))"},
      {installed_source::kind_t::inventory, path_, R"({"id": "x"})", "inventory " + path_ + ": "},
      {installed_source::kind_t::dpkg_status, path_, "no colon here\n",
       "dpkg status " + path_ +
           ": line 1: expected \"Field: value\" (host error 101 (OX_ERROR_PARSE))"},
  };
  for (const bad_case& c : cases) {
    if (c.content != nullptr) {
      write(c.content);
    }
    session host;
    try {
      host.use_installed({c.kind, c.path});
      ADD_FAILURE() << "accepted " << c.path;
    } catch (const input_error& error) {
      EXPECT_EQ(std::string(error.what()).rfind(c.expected, 0), 0u) << error.what();
    }
  }
}

}  // namespace
}  // namespace oxpm
}  // namespace tarvik
