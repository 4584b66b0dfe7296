// The reference host's installed-application store: what the ox_registry_store_*
// functions read. ox_registry_store_create takes no argument that says where
// to read, so the embedding program chooses a source here beforehand:
//
//   - an in-memory list (tests can make its next scan fail: testing.hpp),
//   - a JSON inventory file,
//   - Debian's dpkg status database.
//
// A store takes the source in effect on the creating thread when it is
// created: the thread's scoped_store_source if one is active, otherwise the
// process-wide set_store_source, otherwise none, which is an empty store
// (nothing installed). Every scan reads the whole source into a snapshot that
// the store owns; the walk goes over the snapshot, so a file that changes
// during a walk cannot tear it. Application handles point into their
// snapshot and stay valid until the store is released, also across later
// scans of the same store (a later scan adds a snapshot; walks started before
// it go on over the old one, a new walk starts on the newest). A failed scan
// changes nothing in the store.
//
// Error codes of a failed scan (the message is last_store_error()):
//   OX_ERROR_IO              a source file cannot be opened or read
//   OX_ERROR_PARSE           a source file is malformed or has the wrong shape
//   OX_ERROR_LIMIT_EXCEEDED  a source file is larger than kMaxSourceBytes, or
//                            an inventory nests deeper than kMaxInventoryDepth
//   OX_ERROR_INVALID_ARGUMENT  a null store, or an entry of an in-memory (or
//                            the embedding program's own) source whose id or
//                            version holds a NUL byte: it could not pass
//                            through the C interface whole
//   the creation's code      a null store left by a failed
//                            ox_registry_store_create, when that was the last
//                            creation on this thread (OX_ERROR_OUT_OF_MEMORY,
//                            or the code given to the test hook
//                            fail_next_store_create)
//   OX_ERROR_OUT_OF_MEMORY   the snapshot could not be allocated
//   any code                 given to the test hook fail_next_scan
//
// JSON inventory: a JSON array (UTF-8; a byte-order mark is skipped) of
// objects, in the order the applications are to be walked:
//   [{"id": "ORQHOST_3000", "version": "3.1.0.0"}, {"id": "NOTES_1000"}]
// "version" may be absent or null (an application without version) or a
// string, possibly empty. Wrong shape, reported as OX_ERROR_PARSE naming the
// entry (1-based): a top-level value that is not an array; an entry that is
// not an object; an entry without "id", or with "id" or "version" twice; an
// entry with any other member (a misspelt "version" must not leave the
// software without version unnoticed; the message names the entry's id and
// the member); an "id" that is not a non-empty
// string; a "version" that is neither a string nor null; an id or version
// holding a control character (U+0000 to U+001F, U+007F; so a NUL byte can
// never reach the C interface). Malformed JSON (an empty file, invalid UTF-8,
// trailing text) is OX_ERROR_PARSE too. Duplicate ids are kept, in order.
//
// dpkg status: stanzas of "Field: value" lines separated by blank lines
// (lines of spaces and tabs count as blank); field names are compared without
// regard to case; a line beginning with a space or tab continues the previous
// field; a line beginning with "#" is a comment; CRLF line ends and a missing
// final newline are accepted. Every stanza whose Status reads "<want> ok
// installed" (any selection: install, hold, deinstall...; the package's files
// are on the machine) becomes an application: the Package value as id, the
// Version value (absent: none) read into a four-part version text by
// dpkg_version_text. Packages installed for
// several architectures appear once per architecture. Wrong shape, reported as
// OX_ERROR_PARSE naming the line: a line that is neither blank, comment,
// continuation nor "Field: value"; a continuation line outside a field or
// continuing Package, Version or Status (single-line fields); Package,
// Version or Status twice in one stanza; a stanza without Package or with an
// empty one; a NUL byte; a control character in a package name or version.
// An empty file is an empty store.
#ifndef TARVIK_OX_REFHOST_STORE_HPP_
#define TARVIK_OX_REFHOST_STORE_HPP_

#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tarvik/ox/host/ox_host.h"

namespace tarvik {
namespace ox_refhost {

// One installed application as a source reports it.
struct installed_application {
  std::string id;
  // No value: the application has no version (ox_application_get_version
  // answers null). An empty text is a version text, and empty.
  std::optional<std::string> version;
};

bool operator==(const installed_application& a, const installed_application& b);
bool operator!=(const installed_application& a, const installed_application& b);

inline constexpr char kDefaultDpkgStatusPath[] = "/var/lib/dpkg/status";
// Source files larger than this are refused unread (OX_ERROR_LIMIT_EXCEEDED).
inline constexpr std::size_t kMaxSourceBytes = std::size_t{64} * 1024 * 1024;
// Deepest nesting of arrays and objects an inventory may have, the top-level
// array counting as 1 (OX_ERROR_LIMIT_EXCEEDED beyond).
inline constexpr std::size_t kMaxInventoryDepth = 64;

// Where a store reads its applications from. A source may be shared by the
// stores of several threads, so read() must be safe to call concurrently.
class store_source {
 public:
  virtual ~store_source();
  // Reads a full snapshot. Returns OX_OK with `out` replaced by the
  // applications in walk order, or a non-zero code with `error` set to a
  // message naming the source and the reason (`out` is then unspecified).
  virtual ox_error_e read(std::vector<installed_application>& out, std::string& error) = 0;
};

// A list held in memory. Thread-safe.
class memory_store_source : public store_source {
 public:
  explicit memory_store_source(std::vector<installed_application> applications = {});

  void set_applications(std::vector<installed_application> applications);
  void add(std::string id, std::optional<std::string> version);

  ox_error_e read(std::vector<installed_application>& out, std::string& error) override;

 private:
  // The test hook that makes the next read fail (testing.hpp).
  friend void fail_next_scan(memory_store_source& source, ox_error_e code, std::string message);

  std::mutex mutex_;
  std::vector<installed_application> applications_;
  ox_error_e fail_code_ = OX_OK;
  std::string fail_message_;
};

std::shared_ptr<memory_store_source> make_memory_source(
    std::vector<installed_application> applications = {});
// A JSON inventory file, read anew at every scan.
std::shared_ptr<store_source> make_inventory_source(std::string path);
// A dpkg status file, read anew at every scan.
std::shared_ptr<store_source> make_dpkg_status_source(std::string path = kDefaultDpkgStatusPath);

// The process-wide source for stores created from now on (null: an empty
// store). Thread-safe.
void set_store_source(std::shared_ptr<store_source> source);

// The source a store created now on this thread would take.
std::shared_ptr<store_source> current_store_source();

// Overrides the source for stores created on this thread while the object
// lives (null: an empty store), so that threads with managers of their own
// can each read their own source. Nests; destroy in reverse order of
// creation, on the creating thread.
class scoped_store_source {
 public:
  explicit scoped_store_source(std::shared_ptr<store_source> source);
  scoped_store_source(const scoped_store_source&) = delete;
  scoped_store_source& operator=(const scoped_store_source&) = delete;
  ~scoped_store_source();

 private:
  bool previous_active_;
  std::shared_ptr<store_source> previous_;
};

// The message of the last scan on this thread if it failed ("<file>: <reason>"
// for the file sources); empty when it succeeded or no scan ran yet.
std::string last_store_error();

// The parsers behind the file sources, on text already read. They return
// OX_OK with `out` replaced by the applications in file order, or an error
// code with `error` set to the reason (without a file name) and `out` empty.
ox_error_e parse_inventory_json(std::string_view text, std::vector<installed_application>& out,
                                std::string& error);
ox_error_e parse_dpkg_status(std::string_view text, std::vector<installed_application>& out,
                             std::string& error);

// Debian's "[epoch:]upstream[-revision]" as a four-part version text
// "a.b.c.d". The epoch is dropped: it only resets Debian's own ordering after
// a renumbering and numbers no release. The revision is dropped: it numbers
// Debian's packaging of one upstream release (and its "+debNNuN" updates),
// which is still that release. The upstream's leading numeric pieces fill the
// four parts in order, missing ones 0: a piece is a run of digits, the next
// piece follows a dot followed by a digit, and anything else (a letter, a "~"
// or "+" tail, a fifth piece) ends the numbers. A piece past 4294967295 reads
// as 4294967295; an upstream that does not begin with a digit reads 0.0.0.0.
//   4:12.2.0-3 -> 12.2.0.0         1:2.39.5-0+deb12u3 -> 2.39.5.0
//   1:14.0-55.7~deb12u1 -> 14.0.0.0  2025b-0+deb12u2 -> 2025.0.0.0
//   20230311+deb12u1 -> 20230311.0.0.0  1:9.2p1-2 -> 9.2.0.0
std::string dpkg_version_text(std::string_view debian);

}  // namespace ox_refhost
}  // namespace tarvik

#endif  // TARVIK_OX_REFHOST_STORE_HPP_
