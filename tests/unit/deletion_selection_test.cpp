#include "shell/deletion_selection.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "program_fixture.h"
#include "results/refresh_lists.h"
#include "results/todelete_window.h"
#include "shell/control_numbers.h"

namespace kopiensieb::testing {
namespace {

using Names = std::vector<std::string>;

// Groups built by hand from catalogue records named after their role ("a1.txt" ...), all in
// the folder "/d", so the tests can speak of names alone.
class MarkingTest : public ProgramTest {
 protected:
  DuplicateGroup& Group(const Names& names) {
    std::vector<FileRecord*> files;
    for (const std::string& name : names) {
      files.push_back(&harness.AddFile("/d", name, 10));
    }
    return harness.AddGroup(files);
  }

  // What a user sees after a search and a click on a group row.
  void ShowGroupsAndChoose(int groupRow) {
    RefreshLists(program, kRefreshGroups);
    widgets.SelectRow(kGroupsBox, groupRow);
    RefreshLists(program, kRefreshMembers);
  }

  void Mark(int memberRow) { widgets.SelectRow(kMembersBox, memberRow); }

  Names ToDeleteNames() {
    Names names;
    state.toDeleteList.ForEach([&](const ToDeleteEntry& entry) {
      EXPECT_EQ(entry.done, 0);
      names.push_back(entry.file->name);
    });
    return names;
  }

  // Every group's chain read from its firstMember, checked against the rules the commands
  // must keep: the first member starts its chain, the chain holds memberCount members, each
  // member copies its file's name.
  std::vector<Names> GroupChains() {
    std::vector<Names> chains;
    state.duplicateGroupList.ForEach([&](const DuplicateGroup& group) {
      Names chain;
      EXPECT_NE(group.firstMember, nullptr);
      EXPECT_GE(group.memberCount, 2) << "a group of fewer than two members must not stay";
      if (group.firstMember != nullptr) {
        EXPECT_EQ(GroupMemberList::Previous(*group.firstMember), nullptr);
      }
      for (const GroupMember* member = group.firstMember; member != nullptr;
           member = GroupMemberList::Next(*member)) {
        EXPECT_EQ(member->name, member->file->name);
        chain.push_back(member->name);
      }
      EXPECT_EQ(static_cast<std::int32_t>(chain.size()), group.memberCount);
      chains.push_back(chain);
    });
    return chains;
  }

  std::int64_t MemberRecordsInAllChains() {
    std::int64_t total = 0;
    for (const Names& chain : GroupChains()) {
      total += static_cast<std::int64_t>(chain.size());
    }
    return total;
  }

  Names MembersBoxRows() { return harness.RowTexts(kMembersBox); }
  int SelectedGroupRow() { return widgets.SelectedRow(kGroupsBox); }
  int SelectedMemberRow() { return widgets.SelectedRow(kMembersBox); }
  std::string GroupsCaption() { return widgets.GetText(kGroupsLabel); }
};

Names Paths(const Names& names) {
  Names paths;
  for (const std::string& name : names) {
    paths.push_back(testing::NativePath("/d/" + name));
  }
  return paths;
}

// --- "Lösche markierte Datei"

TEST_F(MarkingTest, MarkedSecondOfTwoEndsTheGroupAndShowsTheNextOne) {
  Group({"a1", "a2"});
  Group({"b1", "b2", "b3"});
  Group({"c1", "c2"});
  ShowGroupsAndChoose(0);
  Mark(1);

  DeleteMarkedCommand(program);

  EXPECT_EQ(ToDeleteNames(), Names({"a2"}));
  EXPECT_EQ(GroupChains(), std::vector<Names>({{"b1", "b2", "b3"}, {"c1", "c2"}}));
  EXPECT_EQ(MemberRecordsInAllChains(), 5);
  EXPECT_EQ(harness.RowTexts(kGroupsBox), Names({"3: b1, b2, b3", "2: c1, c2"}));
  EXPECT_EQ(SelectedGroupRow(), 0);
  EXPECT_EQ(MembersBoxRows(), Paths({"b1", "b2", "b3"}));
  EXPECT_EQ(GroupsCaption(), "Dateien mit gleichem Inhalt (2)");
  EXPECT_EQ(harness.FileNamesInCatalogue().size(), 7u) << "the catalogue keeps every record";
}

TEST_F(MarkingTest, EndingTheLastGroupRowSelectsTheRowAbove) {
  Group({"a1", "a2", "a3"});
  Group({"b1", "b2"});
  ShowGroupsAndChoose(1);
  Mark(0);

  DeleteMarkedCommand(program);

  EXPECT_EQ(ToDeleteNames(), Names({"b1"}));
  EXPECT_EQ(GroupChains(), std::vector<Names>({{"a1", "a2", "a3"}}));
  EXPECT_EQ(SelectedGroupRow(), 0);
  EXPECT_EQ(MembersBoxRows(), Paths({"a1", "a2", "a3"}));
  EXPECT_EQ(GroupsCaption(), "Dateien mit gleichem Inhalt (1)");
}

TEST_F(MarkingTest, EndingTheOnlyGroupLeavesBothBoxesEmpty) {
  Group({"a1", "a2"});
  ShowGroupsAndChoose(0);
  Mark(0);

  DeleteMarkedCommand(program);

  EXPECT_EQ(ToDeleteNames(), Names({"a1"}));
  EXPECT_TRUE(state.duplicateGroupList.Empty());
  EXPECT_TRUE(state.groupMemberList.Empty());
  EXPECT_EQ(widgets.CountRows(kGroupsBox), 0);
  EXPECT_EQ(SelectedGroupRow(), -1);
  EXPECT_EQ(widgets.CountRows(kMembersBox), 0);
  EXPECT_EQ(GroupsCaption(), "Dateien mit gleichem Inhalt (0)");
}

TEST_F(MarkingTest, MarkedFirstOfThreeMakesTheSecondTheFirstMember) {
  Group({"a1", "a2", "a3"});
  DuplicateGroup& second = Group({"b1", "b2"});
  ShowGroupsAndChoose(0);
  const std::string captionBefore = GroupsCaption();
  Mark(0);

  DeleteMarkedCommand(program);

  EXPECT_EQ(ToDeleteNames(), Names({"a1"}));
  EXPECT_EQ(GroupChains(), std::vector<Names>({{"a2", "a3"}, {"b1", "b2"}}));
  EXPECT_EQ(MembersBoxRows(), Paths({"a2", "a3"}));
  EXPECT_EQ(SelectedMemberRow(), 0);
  EXPECT_EQ(SelectedGroupRow(), 0);
  // The group's line keeps its old text until the box is rebuilt; the caption stays too.
  EXPECT_EQ(harness.RowTexts(kGroupsBox), Names({"3: a1, a2, a3", "2: b1, b2"}));
  EXPECT_EQ(GroupsCaption(), captionBefore);
  EXPECT_EQ(second.firstMember->name, "b1");
}

TEST_F(MarkingTest, MarkedMiddleOrLastOfThreeKeepsTheChainAndReselects) {
  struct Case {
    int marked;
    Names left;
    int selectedAfter;
  };
  for (const Case& c : {Case{1, {"a1", "a3"}, 1}, Case{2, {"a1", "a2"}, 1}}) {
    SCOPED_TRACE(c.marked);
    ProgramHarness fresh;
    std::vector<FileRecord*> files;
    for (const char* name : {"a1", "a2", "a3"}) {
      files.push_back(&fresh.AddFile("/d", name, 10));
    }
    fresh.AddGroup(files);
    RefreshLists(fresh.program, kRefreshGroups);
    fresh.widgets.SelectRow(kGroupsBox, 0);
    RefreshLists(fresh.program, kRefreshMembers);
    fresh.widgets.SelectRow(kMembersBox, c.marked);

    DeleteMarkedCommand(fresh.program);

    const DuplicateGroup& group = *fresh.State().duplicateGroupList.First();
    Names chain;
    for (const GroupMember* m = group.firstMember; m != nullptr; m = GroupMemberList::Next(*m)) {
      chain.push_back(m->name);
    }
    EXPECT_EQ(chain, c.left);
    EXPECT_EQ(group.memberCount, 2);
    EXPECT_EQ(fresh.RowTexts(kMembersBox), Paths(c.left));
    EXPECT_EQ(fresh.widgets.SelectedRow(kMembersBox), c.selectedAfter);
    ASSERT_EQ(fresh.State().toDeleteList.Count(), 1);
    EXPECT_EQ(fresh.State().toDeleteList.First()->file, files[static_cast<std::size_t>(c.marked)]);
  }
}

TEST_F(MarkingTest, MarkingTwiceInAGroupOfThreeDissolvesItAndAppendsInOrder) {
  Group({"a1", "a2", "a3"});
  Group({"b1", "b2"});
  ShowGroupsAndChoose(0);
  Mark(2);
  DeleteMarkedCommand(program);
  Mark(0);
  DeleteMarkedCommand(program);

  EXPECT_EQ(ToDeleteNames(), Names({"a3", "a1"}));
  EXPECT_EQ(GroupChains(), std::vector<Names>({{"b1", "b2"}}));
  EXPECT_EQ(MembersBoxRows(), Paths({"b1", "b2"}));
  EXPECT_EQ(GroupsCaption(), "Dateien mit gleichem Inhalt (1)");
}

TEST_F(MarkingTest, MarkedAndKeepDoNothingWithoutAnExistingGroupAndMemberRow) {
  Group({"a1", "a2", "a3"});
  RefreshLists(program, kRefreshGroups);  // as after a search: no group row selected
  const auto unchanged = [&] {
    EXPECT_TRUE(state.toDeleteList.Empty());
    EXPECT_EQ(GroupChains(), std::vector<Names>({{"a1", "a2", "a3"}}));
    EXPECT_EQ(harness.RowTexts(kGroupsBox), Names({"3: a1, a2, a3"}));
  };

  // No group row, though MembersBox shows rows (left from an earlier selection).
  widgets.SelectRow(kGroupsBox, 0);
  RefreshLists(program, kRefreshMembers);
  widgets.SelectRow(kGroupsBox, -1);
  for (auto* command : {&DeleteMarkedCommand, &DeleteOthersCommand}) {
    command(program);
    unchanged();
  }
  // A group row but no member row.
  widgets.SelectRow(kGroupsBox, 0);
  widgets.SelectRow(kMembersBox, -1);
  for (auto* command : {&DeleteMarkedCommand, &DeleteOthersCommand}) {
    command(program);
    unchanged();
  }
  EXPECT_EQ(MembersBoxRows(), Paths({"a1", "a2", "a3"}));
}

TEST_F(MarkingTest, TheEmptyStateRowOfGroupsBoxDesignatesNoGroup) {
  // A search that found nothing: the box shows "(keine doppelten Dateien)" as row 0.
  RefreshLists(program, kRefreshGroups);
  ASSERT_EQ(harness.RowTexts(kGroupsBox), Names({"(keine doppelten Dateien)"}));
  widgets.SelectRow(kGroupsBox, 0);
  widgets.AddRow(kMembersBox, -1, "/d/stale");
  widgets.SelectRow(kMembersBox, 0);

  DeleteMarkedCommand(program);
  DeleteOthersCommand(program);

  EXPECT_TRUE(state.toDeleteList.Empty());
  EXPECT_EQ(harness.RowTexts(kGroupsBox), Names({"(keine doppelten Dateien)"}));
}

TEST_F(MarkingTest, MarkedAppendsBehindEntriesAlreadyGathered) {
  FileRecord& earlier = harness.AddFile("/d", "earlier", 10);
  harness.AddToDelete(earlier);
  Group({"a1", "a2", "a3"});
  ShowGroupsAndChoose(0);
  state.toDeleteList.ResetCursor();  // wherever the cursor was left, new entries go last
  Mark(1);

  DeleteMarkedCommand(program);

  EXPECT_EQ(ToDeleteNames(), Names({"earlier", "a2"}));
}

// --- "Lösche alle außer markierter"

TEST_F(MarkingTest, KeepingOneOfFourTakesTheOthersInGroupOrder) {
  Group({"x1", "x2"});
  Group({"a1", "a2", "a3", "a4"});
  Group({"c1", "c2", "c3"});
  ShowGroupsAndChoose(1);
  Mark(2);

  DeleteOthersCommand(program);

  EXPECT_EQ(ToDeleteNames(), Names({"a1", "a2", "a4"}));
  EXPECT_EQ(GroupChains(), std::vector<Names>({{"x1", "x2"}, {"c1", "c2", "c3"}}));
  EXPECT_EQ(MemberRecordsInAllChains(), 5);
  EXPECT_EQ(harness.RowTexts(kGroupsBox), Names({"2: x1, x2", "3: c1, c2, c3"}));
  EXPECT_EQ(SelectedGroupRow(), 1);
  EXPECT_EQ(MembersBoxRows(), Paths({"c1", "c2", "c3"}));
  EXPECT_EQ(GroupsCaption(), "Dateien mit gleichem Inhalt (2)");
  const Names catalogue = harness.FileNamesInCatalogue();
  EXPECT_NE(std::find(catalogue.begin(), catalogue.end(), "a3"), catalogue.end())
      << "the kept file stays catalogued";
}

TEST_F(MarkingTest, KeepingAnyMemberOfGroupsOfTwoToFour) {
  for (int size = 2; size <= 4; ++size) {
    for (int keep = 0; keep < size; ++keep) {
      SCOPED_TRACE("size " + std::to_string(size) + " keep " + std::to_string(keep));
      ProgramHarness fresh;
      std::vector<FileRecord*> before{&fresh.AddFile("/d", "p1", 5), &fresh.AddFile("/d", "p2", 5)};
      fresh.AddGroup(before);
      std::vector<FileRecord*> files;
      Names expected;
      for (int k = 0; k < size; ++k) {
        const std::string name = "m" + std::to_string(k);
        files.push_back(&fresh.AddFile("/d", name, 10));
        if (k != keep) {
          expected.push_back(name);
        }
      }
      fresh.AddGroup(files);
      std::vector<FileRecord*> after{&fresh.AddFile("/d", "q1", 7), &fresh.AddFile("/d", "q2", 7)};
      fresh.AddGroup(after);
      RefreshLists(fresh.program, kRefreshGroups);
      fresh.widgets.SelectRow(kGroupsBox, 1);
      RefreshLists(fresh.program, kRefreshMembers);
      fresh.widgets.SelectRow(kMembersBox, keep);

      DeleteOthersCommand(fresh.program);

      Names taken;
      fresh.State().toDeleteList.ForEach(
          [&](const ToDeleteEntry& entry) { taken.push_back(entry.file->name); });
      EXPECT_EQ(taken, expected);
      EXPECT_EQ(fresh.State().duplicateGroupList.Count(), 2);
      const DuplicateGroup& first = *fresh.State().duplicateGroupList.First();
      EXPECT_EQ(first.firstMember->name, "p1");
      EXPECT_EQ(GroupMemberList::Next(*first.firstMember)->name, "p2");
      EXPECT_EQ(fresh.RowTexts(kGroupsBox), Names({"2: p1, p2", "2: q1, q2"}));
      EXPECT_EQ(fresh.widgets.SelectedRow(kGroupsBox), 1);
      EXPECT_EQ(fresh.RowTexts(kMembersBox), Paths({"q1", "q2"}));
      const DuplicateGroup& last =
          *DuplicateGroupList::Next(*fresh.State().duplicateGroupList.First());
      EXPECT_EQ(last.firstMember->name, "q1");
      EXPECT_EQ(GroupMemberList::Next(*last.firstMember)->name, "q2");
    }
  }
}

// --- "Lösche Dateien mit spez. Endung"

TEST_F(MarkingTest, PatternTakesMatchesInOrderAndDissolvesAGroupLeftWithOne) {
  Group({"a.bak", "b.bak", "c.txt"});
  widgets.SetText(kDeletePatternField, "*.bak *.tmp");

  DeleteByPatternCommand(program);

  EXPECT_EQ(ToDeleteNames(), Names({"a.bak", "b.bak"}));
  EXPECT_TRUE(state.duplicateGroupList.Empty());
  EXPECT_TRUE(state.groupMemberList.Empty());
  EXPECT_EQ(harness.RowTexts(kGroupsBox), Names({"(keine doppelten Dateien)"}));
  EXPECT_EQ(widgets.CountRows(kMembersBox), 0);
}

TEST_F(MarkingTest, PatternNeverTakesEveryCopyAndStillExaminesTheNextGroups) {
  Group({"x.bak", "y.bak", "z.tmp"});  // every member matches
  Group({"p.txt", "q.bak", "r.txt"});
  Group({"m.bak", "n.txt", "o.txt"});
  Group({"s.tmp", "t.tmp"});  // every member matches, group of two
  widgets.SetText(kDeletePatternField, "*.bak *.tmp");

  DeleteByPatternCommand(program);

  // The first member of an all-matching group stays out of the list; its group still goes.
  EXPECT_EQ(ToDeleteNames(), Names({"y.bak", "z.tmp", "q.bak", "m.bak", "t.tmp"}));
  EXPECT_EQ(GroupChains(), std::vector<Names>({{"p.txt", "r.txt"}, {"n.txt", "o.txt"}}));
  EXPECT_EQ(MemberRecordsInAllChains(), 4);
  EXPECT_EQ(harness.RowTexts(kGroupsBox), Names({"2: p.txt, r.txt", "2: n.txt, o.txt"}));
  EXPECT_EQ(GroupsCaption(), "Dateien mit gleichem Inhalt (2 - 4)");
  EXPECT_EQ(SelectedGroupRow(), 0);
  EXPECT_EQ(MembersBoxRows(), Paths({"p.txt", "r.txt"}));
}

TEST_F(MarkingTest, PatternDropsEntriesGatheredBefore) {
  Group({"a1.txt", "a2.txt", "a3.txt"});
  Group({"k.txt", "k.bak"});
  ShowGroupsAndChoose(0);
  Mark(1);
  DeleteMarkedCommand(program);
  ASSERT_EQ(ToDeleteNames(), Names({"a2.txt"}));
  widgets.SetText(kDeletePatternField, "*.bak");

  DeleteByPatternCommand(program);

  EXPECT_EQ(ToDeleteNames(), Names({"k.bak"}));
  // The member taken earlier does not come back.
  EXPECT_EQ(GroupChains(), std::vector<Names>({{"a1.txt", "a3.txt"}}));
}

TEST_F(MarkingTest, PatternTextIsTrimmedButCommaSpaceIsPartOfThePattern) {
  struct Case {
    std::string text;
    Names taken;
  };
  for (const Case& c : {Case{" *.tmp ", {"b.tmp"}}, Case{"*.bak, *.tmp", {"c.bak"}}}) {
    SCOPED_TRACE(c.text);
    ProgramHarness fresh;
    std::vector<FileRecord*> files{
        &fresh.AddFile("/d", "a.txt", 3), &fresh.AddFile("/d", "b.tmp", 3),
        &fresh.AddFile("/d", "c.bak", 3), &fresh.AddFile("/d", "d.txt", 3)};
    fresh.AddGroup(files);
    fresh.widgets.SetText(kDeletePatternField, c.text);

    DeleteByPatternCommand(fresh.program);

    Names taken;
    fresh.State().toDeleteList.ForEach(
        [&](const ToDeleteEntry& entry) { taken.push_back(entry.file->name); });
    EXPECT_EQ(taken, c.taken);
    EXPECT_EQ(fresh.State().duplicateGroupList.First()->memberCount, 3);
  }
}

TEST_F(MarkingTest, PatternWithoutMatchesEmptiesTheListAndKeepsTheGroups) {
  Group({"a1.txt", "a2.txt"});
  Group({"b1.doc", "b2.doc", "b3.doc"});
  FileRecord& earlier = harness.AddFile("/d", "earlier", 1);
  harness.AddToDelete(earlier);
  widgets.SetText(kDeletePatternField, "*.bak");

  DeleteByPatternCommand(program);

  EXPECT_TRUE(state.toDeleteList.Empty());
  EXPECT_EQ(GroupChains(),
            std::vector<Names>({{"a1.txt", "a2.txt"}, {"b1.doc", "b2.doc", "b3.doc"}}));
  EXPECT_EQ(SelectedGroupRow(), 0);
  EXPECT_EQ(MembersBoxRows(), Paths({"a1.txt", "a2.txt"}));
  EXPECT_EQ(GroupsCaption(), "Dateien mit gleichem Inhalt (2 - 5)");
}

// --- an open ToDelete window follows every change of the list

TEST_F(MarkingTest, OpenToDeleteWindowShowsWhatEachCommandGathered) {
  Group({"a1", "a2", "a3"});
  Group({"b1.bak", "b2"});
  Group({"c1", "c2", "c3", "c4"});
  FileRecord& earlier = harness.AddFile("/d", "earlier", 1);
  harness.AddToDelete(earlier);
  OpenToDeleteWindow(program);
  ASSERT_EQ(harness.RowTexts(kToDeleteView), Names({"earlier"}));

  ShowGroupsAndChoose(0);
  Mark(0);
  DeleteMarkedCommand(program);
  EXPECT_EQ(harness.RowTexts(kToDeleteView), Names({"earlier", "a1"}));

  ShowGroupsAndChoose(2);
  Mark(3);
  DeleteOthersCommand(program);
  EXPECT_EQ(harness.RowTexts(kToDeleteView), Names({"earlier", "a1", "c1", "c2", "c3"}));
  EXPECT_EQ(harness.RowTexts(kToDeleteView, 1), Names(5, testing::NativePath("/d")));

  widgets.SetText(kDeletePatternField, "*.bak");
  DeleteByPatternCommand(program);
  EXPECT_EQ(harness.RowTexts(kToDeleteView), Names({"b1.bak"}));
}

// Every entry remembers the group it was marked from, as the group stood (the file among its
// members) and of which kind, whichever command made it: "Mark. löschen" relies on it to leave
// a copy.
TEST(MarkedGroupTest, EveryMarkingCommandRemembersTheGroup) {
  struct Case {
    const char* what;
    Names members;
    bool equalContent;
    std::function<void(ProgramHarness&)> command;
    Names marked;  // the entries, in list order
  };
  const auto chooseAndRun = [](int memberRow, void (*command)(Program&)) {
    return [memberRow, command](ProgramHarness& harness) {
      RefreshLists(harness.program, kRefreshGroups);
      harness.widgets.SelectRow(kGroupsBox, 0);
      RefreshLists(harness.program, kRefreshMembers);
      harness.widgets.SelectRow(kMembersBox, memberRow);
      command(harness.program);
    };
  };
  const auto byPattern = [](ProgramHarness& harness) {
    harness.widgets.SetText(kDeletePatternField, "*.bak");
    DeleteByPatternCommand(harness.program);
  };
  const std::vector<Case> cases{
      {"the marked file", {"a1", "a2", "a3"}, true, chooseAndRun(1, DeleteMarkedCommand), {"a2"}},
      {"the marked file of a group of names",
       {"n", "N"},
       false,
       chooseAndRun(0, DeleteMarkedCommand),
       {"n"}},
      {"all but the marked file",
       {"a1", "a2", "a3"},
       true,
       chooseAndRun(0, DeleteOthersCommand),
       {"a2", "a3"}},
      {"the files matching the patterns",
       {"x.bak", "y.txt", "z.bak"},
       true,
       byPattern,
       {"x.bak", "z.bak"}},
      {"every file but the first when all match", {"x.bak", "z.bak"}, false, byPattern, {"z.bak"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ProgramHarness harness;
    std::vector<FileRecord*> files;
    for (const std::string& name : c.members) {
      files.push_back(&harness.AddFile("/d", name, 10));
    }
    harness.AddGroup(files).equalContent = c.equalContent;

    c.command(harness);

    Names marked;
    harness.State().toDeleteList.ForEach([&](const ToDeleteEntry& entry) {
      marked.push_back(entry.file->name);
      ASSERT_NE(entry.group, nullptr);
      EXPECT_EQ(entry.group->files, files);
      EXPECT_EQ(entry.group->equalContent, c.equalContent);
    });
    EXPECT_EQ(marked, c.marked);
  }
}

}  // namespace
}  // namespace kopiensieb::testing
