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

// Every group's chain read from its firstMember, checked against the rules the commands must
// keep: the first member starts its chain, the chain holds memberCount members, each member
// copies its file's name.
std::vector<Names> GroupChains(ProgramState& state) {
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
  if (chains.empty()) {
    EXPECT_TRUE(state.groupMemberList.Empty());
  }
  return chains;
}

Names Paths(const Names& names) {
  Names paths;
  for (const std::string& name : names) {
    paths.push_back(testing::NativePath("/d/" + name));
  }
  return paths;
}

// The lists and boxes after a command. Members are named, shown as their paths in "/d".
struct ListsAfter {
  Names toDelete;
  std::vector<Names> chains;
  Names groupsBox;
  int selectedGroup = -1;
  Names members;
  std::string groupsCaption;
};

// Groups built by hand from catalogue records named after their role ("a1.txt" ...), all in
// the folder "/d", so the tests can speak of names alone.
class MarkingTest : public ProgramTest {
 protected:
  DuplicateGroup& Group(const Names& names) { return harness.AddGroupOfNames("/d", names); }
  void ShowGroupsAndChoose(int groupRow) { harness.ShowGroupsAndChoose(groupRow); }
  void Mark(int memberRow) { widgets.SelectRow(kMembersBox, memberRow); }
  Names ToDeleteNames() { return harness.ToDeleteNames(); }
  std::vector<Names> GroupChains() { return testing::GroupChains(state); }

  void ExpectLists(const ListsAfter& expected) {
    EXPECT_EQ(ToDeleteNames(), expected.toDelete);
    EXPECT_EQ(GroupChains(), expected.chains);
    EXPECT_EQ(harness.RowTexts(kGroupsBox), expected.groupsBox);
    EXPECT_EQ(SelectedGroupRow(), expected.selectedGroup);
    EXPECT_EQ(MembersBoxRows(), Paths(expected.members));
    EXPECT_EQ(GroupsCaption(), expected.groupsCaption);
  }

  Names MembersBoxRows() { return harness.RowTexts(kMembersBox); }
  int SelectedGroupRow() { return widgets.SelectedRow(kGroupsBox); }
  int SelectedMemberRow() { return widgets.SelectedRow(kMembersBox); }
  std::string GroupsCaption() { return widgets.GetText(kGroupsLabel); }
};

// --- "Lösche markierte Datei"

TEST_F(MarkingTest, MarkedSecondOfTwoEndsTheGroupAndShowsTheNextOne) {
  Group({"a1", "a2"});
  Group({"b1", "b2", "b3"});
  Group({"c1", "c2"});
  ShowGroupsAndChoose(0);
  Mark(1);

  DeleteMarkedCommand(program);

  ExpectLists({{"a2"},
               {{"b1", "b2", "b3"}, {"c1", "c2"}},
               {"3: b1, b2, b3", "2: c1, c2"},
               0,
               {"b1", "b2", "b3"},
               "Dateien mit gleichem Inhalt (2)"});
  EXPECT_EQ(harness.FileNamesInCatalogue().size(), 7u) << "the catalogue keeps every record";
}

TEST_F(MarkingTest, EndingTheLastGroupRowSelectsTheRowAbove) {
  Group({"a1", "a2", "a3"});
  Group({"b1", "b2"});
  ShowGroupsAndChoose(1);
  Mark(0);

  DeleteMarkedCommand(program);

  ExpectLists({{"b1"},
               {{"a1", "a2", "a3"}},
               {"3: a1, a2, a3"},
               0,
               {"a1", "a2", "a3"},
               "Dateien mit gleichem Inhalt (1)"});
}

TEST_F(MarkingTest, EndingTheOnlyGroupLeavesBothBoxesEmpty) {
  Group({"a1", "a2"});
  ShowGroupsAndChoose(0);
  Mark(0);

  DeleteMarkedCommand(program);

  ExpectLists({{"a1"}, {}, {}, -1, {}, "Dateien mit gleichem Inhalt (0)"});
}

TEST_F(MarkingTest, MarkedFirstOfThreeMakesTheSecondTheFirstMember) {
  Group({"a1", "a2", "a3"});
  DuplicateGroup& second = Group({"b1", "b2"});
  ShowGroupsAndChoose(0);
  const std::string captionBefore = GroupsCaption();
  Mark(0);

  DeleteMarkedCommand(program);

  // The group's line keeps its old text until the box is rebuilt; the caption stays too.
  ExpectLists({{"a1"},
               {{"a2", "a3"}, {"b1", "b2"}},
               {"3: a1, a2, a3", "2: b1, b2"},
               0,
               {"a2", "a3"},
               captionBefore});
  EXPECT_EQ(SelectedMemberRow(), 0);
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
    fresh.AddGroupOfNames("/d", {"a1", "a2", "a3"});
    fresh.ShowGroupsAndChoose(0);
    fresh.widgets.SelectRow(kMembersBox, c.marked);

    DeleteMarkedCommand(fresh.program);

    EXPECT_EQ(testing::GroupChains(fresh.State()), std::vector<Names>{c.left});
    EXPECT_EQ(fresh.RowTexts(kMembersBox), Paths(c.left));
    EXPECT_EQ(fresh.widgets.SelectedRow(kMembersBox), c.selectedAfter);
    EXPECT_EQ(fresh.ToDeleteNames(), Names{"a" + std::to_string(c.marked + 1)});
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

  ExpectLists({{"a3", "a1"},
               {{"b1", "b2"}},
               {"2: b1, b2"},
               0,
               {"b1", "b2"},
               "Dateien mit gleichem Inhalt (1)"});
}

TEST_F(MarkingTest, MarkedAndKeepDoNothingWithoutAnExistingGroupAndMemberRow) {
  Group({"a1", "a2", "a3"});
  RefreshLists(program, kRefreshGroups);  // as after a search: no group row selected
  const auto runBothAndExpectNoChange = [&] {
    for (auto* command : {&DeleteMarkedCommand, &DeleteOthersCommand}) {
      command(program);
      EXPECT_TRUE(state.toDeleteList.Empty());
      EXPECT_EQ(GroupChains(), std::vector<Names>({{"a1", "a2", "a3"}}));
      EXPECT_EQ(harness.RowTexts(kGroupsBox), Names({"3: a1, a2, a3"}));
    }
  };

  // No group row, though MembersBox shows rows (left from an earlier selection).
  widgets.SelectRow(kGroupsBox, 0);
  RefreshLists(program, kRefreshMembers);
  widgets.SelectRow(kGroupsBox, -1);
  runBothAndExpectNoChange();
  // A group row but no member row.
  widgets.SelectRow(kGroupsBox, 0);
  widgets.SelectRow(kMembersBox, -1);
  runBothAndExpectNoChange();
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
  harness.AddToDelete(harness.AddFile("/d", "earlier", 10));
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

  ExpectLists({{"a1", "a2", "a4"},
               {{"x1", "x2"}, {"c1", "c2", "c3"}},
               {"2: x1, x2", "3: c1, c2, c3"},
               1,
               {"c1", "c2", "c3"},
               "Dateien mit gleichem Inhalt (2)"});
  const Names catalogue = harness.FileNamesInCatalogue();
  EXPECT_NE(std::find(catalogue.begin(), catalogue.end(), "a3"), catalogue.end())
      << "the kept file stays catalogued";
}

TEST_F(MarkingTest, KeepingAnyMemberOfGroupsOfTwoToFour) {
  for (int size = 2; size <= 4; ++size) {
    for (int keep = 0; keep < size; ++keep) {
      SCOPED_TRACE("size " + std::to_string(size) + " keep " + std::to_string(keep));
      ProgramHarness fresh;
      Names members;
      Names expected;
      for (int k = 0; k < size; ++k) {
        members.push_back("m" + std::to_string(k));
        if (k != keep) {
          expected.push_back(members.back());
        }
      }
      fresh.AddGroupOfNames("/d", {"p1", "p2"}, 5);
      fresh.AddGroupOfNames("/d", members);
      fresh.AddGroupOfNames("/d", {"q1", "q2"}, 7);
      fresh.ShowGroupsAndChoose(1);
      fresh.widgets.SelectRow(kMembersBox, keep);

      DeleteOthersCommand(fresh.program);

      EXPECT_EQ(fresh.ToDeleteNames(), expected);
      EXPECT_EQ(testing::GroupChains(fresh.State()),
                std::vector<Names>({{"p1", "p2"}, {"q1", "q2"}}));
      EXPECT_EQ(fresh.RowTexts(kGroupsBox), Names({"2: p1, p2", "2: q1, q2"}));
      EXPECT_EQ(fresh.widgets.SelectedRow(kGroupsBox), 1);
      EXPECT_EQ(fresh.RowTexts(kMembersBox), Paths({"q1", "q2"}));
    }
  }
}

// --- "Lösche Dateien mit spez. Endung"

TEST_F(MarkingTest, PatternTakesMatchesInOrderAndDissolvesAGroupLeftWithOne) {
  Group({"a.bak", "b.bak", "c.txt"});
  widgets.SetText(kDeletePatternField, "*.bak *.tmp");

  DeleteByPatternCommand(program);

  EXPECT_EQ(ToDeleteNames(), Names({"a.bak", "b.bak"}));
  EXPECT_EQ(GroupChains(), std::vector<Names>{});
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
  ExpectLists({{"y.bak", "z.tmp", "q.bak", "m.bak", "t.tmp"},
               {{"p.txt", "r.txt"}, {"n.txt", "o.txt"}},
               {"2: p.txt, r.txt", "2: n.txt, o.txt"},
               0,
               {"p.txt", "r.txt"},
               "Dateien mit gleichem Inhalt (2 - 4)"});
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
    fresh.AddGroupOfNames("/d", {"a.txt", "b.tmp", "c.bak", "d.txt"}, 3);
    fresh.widgets.SetText(kDeletePatternField, c.text);

    DeleteByPatternCommand(fresh.program);

    EXPECT_EQ(fresh.ToDeleteNames(), c.taken);
    EXPECT_EQ(fresh.State().duplicateGroupList.First()->memberCount, 3);
  }
}

TEST_F(MarkingTest, PatternWithoutMatchesEmptiesTheListAndKeepsTheGroups) {
  Group({"a1.txt", "a2.txt"});
  Group({"b1.doc", "b2.doc", "b3.doc"});
  harness.AddToDelete(harness.AddFile("/d", "earlier", 1));
  widgets.SetText(kDeletePatternField, "*.bak");

  DeleteByPatternCommand(program);

  ExpectLists({{},
               {{"a1.txt", "a2.txt"}, {"b1.doc", "b2.doc", "b3.doc"}},
               {"2: a1.txt, a2.txt", "3: b1.doc, b2.doc, b3.doc"},
               0,
               {"a1.txt", "a2.txt"},
               "Dateien mit gleichem Inhalt (2 - 5)"});
}

// --- an open ToDelete window follows every change of the list

TEST_F(MarkingTest, OpenToDeleteWindowShowsWhatEachCommandGathered) {
  Group({"a1", "a2", "a3"});
  Group({"b1.bak", "b2"});
  Group({"c1", "c2", "c3", "c4"});
  harness.AddToDelete(harness.AddFile("/d", "earlier", 1));
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
      harness.ShowGroupsAndChoose(0);
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
