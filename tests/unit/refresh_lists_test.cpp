#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "program_fixture.h"
#include "results/refresh_lists.h"
#include "results/todelete_window.h"
#include "shell/control_numbers.h"

namespace kopiensieb {
namespace {

using testing::NativePath;

using testing::ProgramTest;
using Rows = std::vector<std::string>;

class RefreshListsTest : public ProgramTest {
 protected:
  // The worked example: three equal files of 1536 bytes in one group.
  void BuildWorkedExample() {
    a_ = &harness.AddFile("/X", "a.txt", 1536);
    b_ = &harness.AddFile("/Y", "a.bak", 1536);
    c_ = &harness.AddFile("/Y", "a.txt", 1536);
    harness.AddGroup({a_, b_, c_});
  }

  // Group members named as given, all in folder /f.
  DuplicateGroup& GroupOfNames(const std::vector<std::string>& names) {
    return harness.AddGroupOfNames("/f", names, 7);
  }

  int SelectedMemberAfterSelectingGroup(int group) {
    harness.ShowGroupsAndChoose(group);
    return widgets.SelectedRow(kMembersBox);
  }

  void OpenToDeleteWindowDirectly() {
    OpenToDeleteWindow(program);
    ASSERT_TRUE(state.toDeleteWindowOpen);
  }

  FileRecord* a_ = nullptr;
  FileRecord* b_ = nullptr;
  FileRecord* c_ = nullptr;
};

TEST_F(RefreshListsTest, WorkedExampleThroughFlagsOneTwoAndFour) {
  BuildWorkedExample();
  RefreshLists(program, kRefreshFiles);
  EXPECT_EQ(harness.RowTexts(kFilesView, 0), (Rows{"a.txt", "a.bak", "a.txt"}));
  EXPECT_EQ(harness.RowTexts(kFilesView, 1), (Rows{"1536 Bytes", "1536 Bytes", "1536 Bytes"}));
  EXPECT_EQ(widgets.GetText(kFilesLabel), "Alle Dateien (3)");

  RefreshLists(program, kRefreshGroups);
  EXPECT_EQ(harness.RowTexts(kGroupsBox), Rows{"3: a.txt, a.bak, a.txt"});
  EXPECT_EQ(widgets.GetText(kGroupsLabel), "Dateien mit gleichem Inhalt (1 - 3)");

  widgets.SelectRow(kGroupsBox, 0);
  RefreshLists(program, kRefreshMembers);
  EXPECT_EQ(harness.RowTexts(kMembersBox),
            (Rows{NativePath("/X/a.txt"), NativePath("/Y/a.bak"), NativePath("/Y/a.txt")}));
  EXPECT_EQ(widgets.SelectedRow(kMembersBox), 1);
  EXPECT_EQ(widgets.StatusTexts()[0], "Update Liste");
}

TEST_F(RefreshListsTest, FlagOneReplacesOldRowsAndShowsTrueSizesOfEveryRecord) {
  widgets.AddRow(kFilesView, 0, "stale");
  RefreshLists(program, kRefreshFiles);
  EXPECT_EQ(widgets.CountRows(kFilesView), 0);
  EXPECT_EQ(widgets.GetText(kFilesLabel), "Alle Dateien (0)");
  EXPECT_EQ(state.fileCatalogue.Current(), nullptr);

  harness.AddFile("/d", "empty", 0);
  harness.AddFile("/d", "mega", 1048576);
  harness.AddFile("/d", "huge", (std::int64_t{4} << 30) + 10);  // beyond 32 bits
  harness.AddFile("", "in-root", 5);
  RefreshLists(program, kRefreshFiles);
  EXPECT_EQ(harness.RowTexts(kFilesView, 1),
            (Rows{"0 Bytes", "1048576 Bytes", "4294967306 Bytes", "5 Bytes"}));
  int shown = 0;
  state.fileCatalogue.ForEach(
      [&shown](const FileRecord& record) { shown += record.shownInFilesView; });
  EXPECT_EQ(shown, 4);
  EXPECT_EQ(state.fileCatalogue.CurrentPosition(), 4) << "cursor on the last record";
  EXPECT_EQ(widgets.SelectedRow(kFilesView), -1);
}

TEST_F(RefreshListsTest, FlagZeroIsTheResetFormAndLeavesTheToDeleteViewAlone) {
  BuildWorkedExample();
  harness.AddToDelete(*a_);
  OpenToDeleteWindowDirectly();
  RefreshLists(program, kRefreshFiles | kRefreshGroups);
  widgets.SelectRow(kGroupsBox, 0);
  RefreshLists(program, kRefreshMembers);
  const Rows toDeleteRows = harness.RowTexts(kToDeleteView);
  ASSERT_EQ(toDeleteRows, Rows{"a.txt"});

  widgets.SetStatusText(0, "");  // so the refresh's own write can be seen
  state.activityText.clear();
  RefreshLists(program, 0);
  EXPECT_EQ(widgets.CountRows(kFilesView), 0);
  EXPECT_EQ(widgets.CountRows(kGroupsBox), 0);
  EXPECT_EQ(widgets.CountRows(kMembersBox), 0);
  EXPECT_EQ(widgets.GetText(kFilesLabel), "Alle Dateien");
  EXPECT_EQ(widgets.GetText(kGroupsLabel), "Dateien mit gleichem Inhalt");
  EXPECT_EQ(harness.RowTexts(kToDeleteView), toDeleteRows);
  EXPECT_EQ(widgets.StatusTexts()[0], "Update Liste");
}

TEST_F(RefreshListsTest, FlagTwoListsNamesOnlyAndCountsGroupsAndMembers) {
  // Without groups: one row that stands for none, and a zero caption.
  for (int row = 0; row < 3; ++row) {
    widgets.AddRow(kGroupsBox, -1, "old group");
  }
  widgets.AddRow(kMembersBox, -1, "/old/member");
  RefreshLists(program, kRefreshGroups);
  EXPECT_EQ(harness.RowTexts(kGroupsBox), Rows{"(keine doppelten Dateien)"});
  EXPECT_EQ(widgets.CountRows(kMembersBox), 0);
  EXPECT_EQ(widgets.GetText(kGroupsLabel), "Dateien mit gleichem Inhalt (0 - 0)");

  FileRecord& p = harness.AddFile("/one", "p.jpg", 3);
  FileRecord& q = harness.AddFile("/two", "Kopie von p.jpg", 3);
  FileRecord& r = harness.AddFile("/one", "r", 4);
  FileRecord& s = harness.AddFile("/two", "r", 4);
  FileRecord& t = harness.AddFile("/three", "r", 4);
  harness.AddGroup({&p, &q});
  harness.AddGroup({&r, &s, &t});
  widgets.AddRow(kMembersBox, -1, "/members/of/an/earlier/search");
  RefreshLists(program, kRefreshGroups);
  EXPECT_EQ(harness.RowTexts(kGroupsBox), (Rows{"2: p.jpg, Kopie von p.jpg", "3: r, r, r"}));
  EXPECT_EQ(widgets.GetText(kGroupsLabel), "Dateien mit gleichem Inhalt (2 - 5)");
  EXPECT_EQ(widgets.CountRows(kMembersBox), 0);
  EXPECT_EQ(widgets.SelectedRow(kGroupsBox), -1);
  // Cursors: the last group, and the last member of the last group.
  EXPECT_EQ(state.duplicateGroupList.CurrentPosition(), 2);
  ASSERT_NE(state.groupMemberList.Current(), nullptr);
  EXPECT_EQ(state.groupMemberList.Current()->file, &t);
}

TEST_F(RefreshListsTest, FlagFourPreselectsTheLastBackupCopyOrElseTheFirstMember) {
  GroupOfNames({"x.txt", "x.BAK", "y.bak", "z.doc"});
  GroupOfNames({"x.txt", "x.doc"});
  GroupOfNames({"x.txt", "x.bak1", "x.baks", "bak"});
  GroupOfNames({"x.tar.bak", "x.txt"});
  EXPECT_EQ(SelectedMemberAfterSelectingGroup(0), 2);
  EXPECT_EQ(SelectedMemberAfterSelectingGroup(1), 0);
  EXPECT_EQ(SelectedMemberAfterSelectingGroup(2), 0);
  EXPECT_EQ(SelectedMemberAfterSelectingGroup(3), 0);
}

TEST_F(RefreshListsTest, BackupCopyNameLooksAtTheTextAfterTheLastDotOnly) {
  for (const char* name : {"x.bak", "X.BAK", "x.tar.bak", ".bak"}) {
    EXPECT_TRUE(IsBackupCopyName(name)) << name;
  }
  for (const char* name : {"x.bak1", "x.baks", "bak", "x.bak.txt", "x."}) {
    EXPECT_FALSE(IsBackupCopyName(name)) << name;
  }
}

TEST_F(RefreshListsTest, FlagFourFillsTheSelectedGroupAndLeavesCursorsOnIt) {
  GroupOfNames({"a1", "a2"});
  DuplicateGroup& second = GroupOfNames({"b1", "b2", "b3"});
  GroupOfNames({"c1", "c2"});
  harness.ShowGroupsAndChoose(1);
  EXPECT_EQ(harness.RowTexts(kMembersBox),
            (Rows{NativePath("/f/b1"), NativePath("/f/b2"), NativePath("/f/b3")}));
  EXPECT_EQ(state.duplicateGroupList.Current(), &second);
  ASSERT_NE(state.groupMemberList.Current(), nullptr);
  EXPECT_EQ(state.groupMemberList.Current()->name, "b3");
}

TEST_F(RefreshListsTest, FlagFourShowsRootFilesWithASingleSlash) {
  FileRecord& a = harness.AddFile("", "a.bak", 1);
  FileRecord& b = harness.AddFile("/home", "a.bak", 1);
  harness.AddGroup({&a, &b});
  EXPECT_EQ(SelectedMemberAfterSelectingGroup(0), 1);
  EXPECT_EQ(harness.RowTexts(kMembersBox), (Rows{NativePath("/a.bak"), NativePath("/home/a.bak")}));
}

TEST_F(RefreshListsTest, FlagFourWithoutSelectedGroupOrWithoutGroupsLeavesMembersEmpty) {
  widgets.AddRow(kMembersBox, -1, "stale");
  RefreshLists(program, kRefreshMembers);  // no groups at all
  EXPECT_EQ(widgets.CountRows(kMembersBox), 0);

  GroupOfNames({"a", "b"});
  RefreshLists(program, kRefreshGroups);
  widgets.AddRow(kMembersBox, -1, "stale");
  RefreshLists(program, kRefreshMembers);  // a group, but no row selected
  EXPECT_EQ(widgets.CountRows(kMembersBox), 0);
}

TEST_F(RefreshListsTest, FlagEightShowsNameFolderAndSizeOnlyWhileTheWindowIsOpen) {
  FileRecord& a = harness.AddFile("/x", "a.txt", 5);
  harness.AddToDelete(a);
  RefreshLists(program, kRefreshToDelete);  // closed: nothing happens, nothing to crash on
  EXPECT_EQ(widgets.Control(kToDeleteView), nullptr);
  EXPECT_EQ(state.fileCatalogue.Current(), &a);
  state.fileCatalogue.ResetCursor();
  RefreshLists(program, kRefreshToDelete);
  EXPECT_EQ(state.fileCatalogue.Current(), nullptr) << "a closed window walks no list";
  state.toDeleteList.Clear();
  FileRecord& b = harness.AddFile("", "b.txt", (std::int64_t{3} << 31));
  harness.AddFile("/x", "c.txt", 7);

  OpenToDeleteWindowDirectly();
  EXPECT_EQ(harness.RowTexts(kToDeleteView), Rows{"(keine Dateien zum Löschen)"});

  harness.AddToDelete(b);
  harness.AddToDelete(a);
  RefreshLists(program, kRefreshToDelete);
  EXPECT_EQ(harness.RowTexts(kToDeleteView, 0), (Rows{"b.txt", "a.txt"}));
  EXPECT_EQ(harness.RowTexts(kToDeleteView, 1), (Rows{"", NativePath("/x")}));
  EXPECT_EQ(harness.RowTexts(kToDeleteView, 2), (Rows{"6442450944 Bytes", "5 Bytes"}));
  EXPECT_EQ(state.toDeleteList.CurrentPosition(), 2);
  EXPECT_EQ(state.fileCatalogue.Current(), &a);
  for (int row = 0; row < 2; ++row) {
    EXPECT_FALSE(widgets.IsRowSelected(kToDeleteView, row));
  }
}

TEST_F(RefreshListsTest, FlagsTenRebuildGroupsAndToDeleteButNotFilesOrMembers) {
  BuildWorkedExample();
  harness.AddToDelete(*c_);
  OpenToDeleteWindowDirectly();
  widgets.AddRow(kFilesView, 0, "kept");
  state.toDeleteList.Clear();
  RefreshLists(program, kRefreshGroups | kRefreshToDelete);
  EXPECT_EQ(harness.RowTexts(kGroupsBox), Rows{"3: a.txt, a.bak, a.txt"});
  EXPECT_EQ(harness.RowTexts(kToDeleteView), Rows{"(keine Dateien zum Löschen)"});
  EXPECT_EQ(harness.RowTexts(kFilesView), Rows{"kept"});
}

TEST_F(RefreshListsTest, FlagOneOverManyRecordsCostsOneRowAndOneCellEach) {
  constexpr int kRecords = 200000;
  FileCatalogue& catalogue = state.fileCatalogue;
  for (int index = 0; index < kRecords; ++index) {
    FileRecord& record = catalogue.Add();
    record.folder = "/data";
    record.name = "f" + std::to_string(index);
    record.size = index;
  }
  // Quadratic work would take minutes and meet ctest's time limit; the time is not asserted.
  RefreshLists(program, kRefreshFiles);
  ASSERT_EQ(widgets.CountRows(kFilesView), kRecords);
  EXPECT_EQ(harness.Control(kFilesView).rows[kRecords - 1], (Rows{"f199999", "199999 Bytes"}));
  EXPECT_EQ(widgets.GetText(kFilesLabel), "Alle Dateien (200000)");
}

}  // namespace
}  // namespace kopiensieb
