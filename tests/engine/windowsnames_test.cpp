// The names Windows cannot hold, refused by extraction on Windows: the
// table is plain text rules, checked on every system.
#include <gtest/gtest.h>

#include <string>

#include "windowsnames.h"

namespace {

struct RefusedName {
  const char* name;
  const char* reasonPart;  // a piece of the reason that names the rule
};

class WindowsRefusedNames : public testing::TestWithParam<RefusedName> {};

TEST_P(WindowsRefusedNames, AreRefusedWithTheirRule) {
  const std::string reason = vzrfs::WindowsNameProblem(GetParam().name);
  EXPECT_NE(reason.find(GetParam().reasonPart), std::string::npos) << GetParam().name << ": " << reason;
}

INSTANTIATE_TEST_SUITE_P(
    Table, WindowsRefusedNames,
    testing::Values(RefusedName{"CON", "device name"}, RefusedName{"levels/con.txt", "device name"},
                    RefusedName{"Aux.tar.gz", "device name"}, RefusedName{"nul", "device name"},
                    RefusedName{"prn .con", "device name"}, RefusedName{"COM1.inc", "device name"},
                    RefusedName{"lpt9", "device name"}, RefusedName{"COM\xC2\xB9.con", "device name"},
                    RefusedName{"maps/tower.", "dot or a space"}, RefusedName{"maps /tower.con", "dot or a space"},
                    RefusedName{"a<b.con", "'<'"}, RefusedName{"a>b", "'>'"}, RefusedName{"tower.con:stream", "':'"},
                    RefusedName{"say\"hi\"", "'\"'"}, RefusedName{"a|b", "'|'"}, RefusedName{"why?.con", "'?'"},
                    RefusedName{"all*.con", "'*'"}, RefusedName{"tab\there.con", "control character"},
                    RefusedName{"C:tower.con", "drive-relative"}, RefusedName{"C:/tower.con", "drive letter"},
                    RefusedName{"/tower.con", "rooted"}, RefusedName{"\\tower.con", "rooted"},
                    RefusedName{"\\\\?\\C:\\tower.con", "device or network"},
                    RefusedName{"\\\\.\\pipe\\x", "device or network"},
                    RefusedName{"//server/share/tower.con", "device or network"}));

TEST(WindowsNames, OrdinaryNamesPass) {
  for (const char* name : {"tower.con", "levels/Brücke_ß.con", "塔.inc", "console.con", "CONFIG.SYS", "com10.inc",
                           "lpt.txt", "a..b", ".hidden", "maps\\sub\\a.con", "aux_data.con"})
    EXPECT_EQ(vzrfs::WindowsNameProblem(name), "") << name;
}

}  // namespace
