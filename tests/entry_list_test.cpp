// The entry list is the single source of every slot and name: check it.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

#include "dynload/slots.h"

namespace {

enum Kind { PLAIN, MESSAGE, CODED_MESSAGE, VARARGS };

struct Row {
  unsigned slot;
  const char* name;
  Kind kind;
};

constexpr Row kRows[] = {
#define MI_ENTRY(slot, name, kind) {slot, #name, kind},
#include "dynload/entries.def"
#undef MI_ENTRY
};

TEST(EntryList, HasSixHundredNinetyFiveDistinctHostNamesInSlotOrder) {
  ASSERT_EQ(std::size(kRows), 695u);
  std::set<std::string> names;
  for (unsigned i = 0; i < std::size(kRows); ++i) {
    EXPECT_EQ(kRows[i].slot, i);
    EXPECT_EQ(std::strncmp(kRows[i].name, "mi_", 3), 0) << kRows[i].name;
    EXPECT_STREQ(dynload_names[i], kRows[i].name);
    names.insert(kRows[i].name);
  }
  EXPECT_EQ(names.size(), 695u);
}

TEST(EntryList, NamesTheFourteenSpecialRowsInTheirSlots) {
  const std::pair<unsigned, const char*> varargs[] = {{35, "mi_scene_create"},
                                                      {36, "mi_scene_recreate"},
                                                      {39, "mi_scene_growedit"},
                                                      {270, "mi_query"}};
  // The coded ones take a code before the format.
  const std::pair<const char*, Kind> messages[] = {
      {"mi_fatal", MESSAGE},   {"mi_nfatal", CODED_MESSAGE},
      {"mi_error", MESSAGE},   {"mi_nerror", CODED_MESSAGE},
      {"mi_warning", MESSAGE}, {"mi_nwarning", CODED_MESSAGE},
      {"mi_info", MESSAGE},    {"mi_progress", MESSAGE},
      {"mi_debug", MESSAGE},   {"mi_vdebug", MESSAGE}};
  unsigned special = 0;
  for (const Row& row : kRows) special += row.kind != PLAIN;
  EXPECT_EQ(special, 14u);
  for (auto [slot, name] : varargs) {
    EXPECT_STREQ(kRows[slot].name, name);
    EXPECT_EQ(kRows[slot].kind, VARARGS);
  }
  for (unsigned i = 0; i < std::size(messages); ++i) {
    EXPECT_STREQ(kRows[342 + i].name, messages[i].first);
    EXPECT_EQ(kRows[342 + i].kind, messages[i].second);
  }
}

TEST(EntryList, KeepsTheShaderRowsAndTheEndsWhereHostsExpectThem) {
  EXPECT_STREQ(kRows[0].name, "mi_hardware_file_get");
  EXPECT_STREQ(kRows[119].name, "mi_phen_eval");
  EXPECT_STREQ(kRows[326].name, "mi_srandom");
  EXPECT_STREQ(kRows[327].name, "mi_random");
  EXPECT_STREQ(kRows[427].name, "mi_db_access");
  EXPECT_STREQ(kRows[432].name, "mi_db_unpin");
  EXPECT_STREQ(kRows[516].name, "mi_api_tag_lookup");
  EXPECT_STREQ(kRows[694].name, "mi_api_notify_callback");
}

}  // namespace
