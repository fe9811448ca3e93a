// The entry list is the single source of every slot and name: check what a
// renderer sees of it, the names looked up and the entries' kinds.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <string>

#include "library/dynload/slots.h"

namespace {

enum Kind { PLAIN, MESSAGE, CODED_MESSAGE, VARARGS };

struct Row {
  const char* name;
  Kind kind;
};

constexpr Row kRows[] = {
#define MI_ENTRY(name, kind) {#name, kind},
#include "library/dynload/entries.def"
#undef MI_ENTRY
};

TEST(EntryList, LooksUpSixHundredNinetyFiveDistinctHostNamesInListOrder) {
  ASSERT_EQ(std::size(kRows), 695u);
  std::set<std::string> names;
  for (unsigned i = 0; i < std::size(kRows); ++i) {
    EXPECT_EQ(std::strncmp(kRows[i].name, "mi_", 3), 0) << kRows[i].name;
    EXPECT_STREQ(dynload_names[i], kRows[i].name);
    names.insert(kRows[i].name);
  }
  EXPECT_EQ(names.size(), 695u);
  EXPECT_STREQ(kRows[0].name, "mi_hardware_file_get");
  EXPECT_STREQ(kRows[694].name, "mi_api_notify_callback");
}

TEST(EntryList, GivesTheFourteenSpecialFunctionsTheirKinds) {
  // The coded messages take a code before the format.
  const std::pair<const char*, Kind> special[] = {
      {"mi_scene_create", VARARGS},   {"mi_scene_recreate", VARARGS},
      {"mi_scene_growedit", VARARGS}, {"mi_query", VARARGS},
      {"mi_fatal", MESSAGE},          {"mi_nfatal", CODED_MESSAGE},
      {"mi_error", MESSAGE},          {"mi_nerror", CODED_MESSAGE},
      {"mi_warning", MESSAGE},        {"mi_nwarning", CODED_MESSAGE},
      {"mi_info", MESSAGE},           {"mi_progress", MESSAGE},
      {"mi_debug", MESSAGE},          {"mi_vdebug", MESSAGE}};
  unsigned count = 0;
  for (const Row& row : kRows) count += row.kind != PLAIN;
  EXPECT_EQ(count, std::size(special));
  for (auto [name, kind] : special) {
    const Row* row = std::find_if(
        std::begin(kRows), std::end(kRows),
        [name = name](const Row& r) { return std::strcmp(r.name, name) == 0; });
    ASSERT_NE(row, std::end(kRows)) << name;
    EXPECT_EQ(row->kind, kind) << name;
  }
}

}  // namespace
