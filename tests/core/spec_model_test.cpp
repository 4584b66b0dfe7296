#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "tarvik/ox/spec.hpp"

namespace tarvik {
namespace ox {
namespace {

TEST(ConflictActionTypeTest, ExactCaseSensitiveWordsElseIgnore) {
  struct row {
    const char* text;
    conflict_action expected;
  };
  const row rows[] = {
      {"ErrorFail", CONFLICT_ACTION_ERRORFAIL},
      {"Uninstall", CONFLICT_ACTION_UNINSTALL},
      {"Ignore", CONFLICT_ACTION_IGNORE},
      {"uninstall", CONFLICT_ACTION_IGNORE},
      {"errorfail", CONFLICT_ACTION_IGNORE},
      {"UNINSTALL", CONFLICT_ACTION_IGNORE},
      {"", CONFLICT_ACTION_IGNORE},
      {"Uninstall ", CONFLICT_ACTION_IGNORE},
      {" ErrorFail", CONFLICT_ACTION_IGNORE},
      {"ErrorFailure", CONFLICT_ACTION_IGNORE},
      {"Error", CONFLICT_ACTION_IGNORE},
      {"Reboot", CONFLICT_ACTION_IGNORE},
  };
  for (const row& r : rows) {
    EXPECT_EQ(conflict_action_type(r.text), r.expected) << '"' << r.text << '"';
  }
  EXPECT_EQ(CONFLICT_ACTION_ERRORFAIL, 0);
  EXPECT_EQ(CONFLICT_ACTION_UNINSTALL, 1);
  EXPECT_EQ(CONFLICT_ACTION_IGNORE, 2);
}

TEST(SplitTest, PiecesBetweenEverySeparator) {
  using pieces = std::vector<std::string>;
  struct row {
    std::string text;
    std::string separator;
    pieces expected;
  };
  const row rows[] = {
      {"", "|", {}},
      {"abc", "|", {"abc"}},
      {"a|b", "|", {"a", "b"}},
      {"a||b", "|", {"a", "", "b"}},
      {"|a", "|", {"", "a"}},
      {"a|", "|", {"a", ""}},
      {"|", "|", {"", ""}},
      {"||", "|", {"", "", ""}},
      {"a|b|c|d", "|", {"a", "b", "c", "d"}},
      // A separator of several characters counts only as a whole.
      {"a::b:c", "::", {"a", "b:c"}},
      {"a:b", "::", {"a:b"}},
      {"a:::b", "::", {"a", ":b"}},
      {"ab--", "--", {"ab", ""}},
      {"separator", "separator", {"", ""}},
      {"sep", "separator", {"sep"}},
      // An empty separator cannot be found: the text stays whole.
      {"abc", "", {"abc"}},
      {"", "", {}},
  };
  for (const row& r : rows) {
    EXPECT_EQ(split(r.text, r.separator), r.expected)
        << "text \"" << r.text << "\" separator \"" << r.separator << '"';
  }
}

TEST(SplitTest, KeepsEmbeddedNulBytes) {
  const std::string text("a\0b|c", 5);
  EXPECT_EQ(split(text, "|"), (std::vector<std::string>{std::string("a\0b", 3), "c"}));
}

// Counts destructions through the base class's virtual destructor.
struct counting_check : conflict_check {
  explicit counting_check(int* destroyed)
      : conflict_check(CONFLICT_CHECK_REGISTRY), destroyed(destroyed) {}
  ~counting_check() override { ++*destroyed; }
  int* destroyed;
};

TEST(SpecModelTest, DefaultsAreEmpty) {
  const conflict c;
  EXPECT_EQ(c.check, nullptr);
  EXPECT_EQ(c.action, 0);
  EXPECT_TRUE(c.name.empty());

  const software_spec spec;
  EXPECT_TRUE(spec.name.empty());
  EXPECT_TRUE(spec.sref.empty());
  EXPECT_TRUE(spec.softwareids.empty());
  EXPECT_TRUE(spec.versions.ranges.empty());
  EXPECT_TRUE(spec.obsoletes.empty());
  EXPECT_TRUE(spec.uninstalls.empty());
  EXPECT_TRUE(spec.provides.empty());
  EXPECT_TRUE(spec.depends.empty());
  EXPECT_TRUE(spec.compatibles.empty());
  EXPECT_TRUE(spec.conflicts.empty());

  const depend d;
  EXPECT_TRUE(d.sref.empty() && d.version_text.empty() && d.versions.ranges.empty());
  const compatible k;
  EXPECT_TRUE(k.sref.empty() && k.versions.ranges.empty());
}

TEST(SpecModelTest, RegistryCheckReportsItsTypeThroughTheBase) {
  const std::shared_ptr<conflict_check> check = std::make_shared<conflict_check_registry>();
  EXPECT_EQ(check->type, CONFLICT_CHECK_REGISTRY);
  EXPECT_EQ(static_cast<int>(check->type), 1);
  const auto& registry = static_cast<const conflict_check_registry&>(*check);
  EXPECT_TRUE(registry.hkey.empty() && registry.path.empty() && registry.key.empty() &&
              registry.match.empty());
}

TEST(SpecModelTest, CopiesShareOneCheckDestroyedWithTheLastOwner) {
  int destroyed = 0;
  auto first = std::make_unique<software_spec>();
  first->sref = "A";
  conflict c;
  c.name = "c1";
  c.action = CONFLICT_ACTION_UNINSTALL;
  c.check.reset(new counting_check(&destroyed));
  first->conflicts.push_back(c);
  c.check.reset();
  ASSERT_EQ(destroyed, 0);

  software_spec copy = *first;
  software_spec assigned;
  assigned = copy;
  ASSERT_EQ(copy.conflicts.size(), 1u);
  EXPECT_EQ(copy.conflicts[0].check.get(), first->conflicts[0].check.get());
  EXPECT_EQ(assigned.conflicts[0].check.get(), first->conflicts[0].check.get());
  EXPECT_EQ(first->conflicts[0].check.use_count(), 3);

  first.reset();
  EXPECT_EQ(destroyed, 0);
  EXPECT_EQ(copy.conflicts[0].check->type, CONFLICT_CHECK_REGISTRY);
  EXPECT_EQ(copy.conflicts[0].name, "c1");
  EXPECT_EQ(copy.conflicts[0].action, CONFLICT_ACTION_UNINSTALL);

  copy.conflicts.clear();
  EXPECT_EQ(destroyed, 0);
  assigned = software_spec();
  EXPECT_EQ(destroyed, 1);
}

TEST(SpecModelTest, CopiesAreIndependentValues) {
  software_spec spec;
  spec.sref = "A";
  spec.versions.set("1.0:2.0");
  spec.depends.push_back(depend{"B", {}, "1.0"});
  spec.provides.push_back(software("P", version("1.0")));

  software_spec copy = spec;
  copy.sref = "Z";
  copy.depends[0].sref = "Y";
  copy.depends.push_back(depend{});
  copy.versions.ranges.clear();
  copy.provides[0].name = "changed";

  EXPECT_EQ(spec.sref, "A");
  ASSERT_EQ(spec.depends.size(), 1u);
  EXPECT_EQ(spec.depends[0].sref, "B");
  EXPECT_EQ(spec.versions.ranges.size(), 1u);
  EXPECT_TRUE(spec.provides[0].name.empty());
}

}  // namespace
}  // namespace ox
}  // namespace tarvik
