#include "shell/deletion_selection.h"

#include <gtest/gtest.h>

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
  int selectedMember = 0;  // no backup copies here: else the first member is preselected
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
  Names MembersBoxRows() { return harness.RowTexts(kMembersBox); }
};

void ExpectLists(ProgramHarness& harness, const ListsAfter& expected) {
  EXPECT_EQ(harness.ToDeleteNames(), expected.toDelete);
  EXPECT_EQ(GroupChains(harness.State()), expected.chains);
  EXPECT_EQ(harness.RowTexts(kGroupsBox), expected.groupsBox);
  EXPECT_EQ(harness.widgets.SelectedRow(kGroupsBox), expected.selectedGroup);
  EXPECT_EQ(harness.RowTexts(kMembersBox), Paths(expected.members));
  EXPECT_EQ(harness.widgets.GetText(kGroupsLabel), expected.groupsCaption);
  EXPECT_EQ(harness.widgets.SelectedRow(kMembersBox), expected.selectedMember);
}

// Groups, a group row chosen, member rows marked one after another (each followed by the
// command), or a pattern typed first.
struct CommandCase {
  const char* what;
  std::vector<Names> groups;
  Names gatheredBefore;  // entries of other files, already on the list
  int chosenGroup;       // -1: none, as after a search
  std::vector<int> markedRows;
  void (*command)(Program&);
  std::string pattern;
  ListsAfter expected;
};

TEST(MarkingCommandTest, EachCommandLeavesListsAndBoxesInStep) {
  const std::string caption = "Dateien mit gleichem Inhalt ";
  const std::vector<CommandCase> cases{
      {"marked second of two: the group ends, the next one is shown",
       {{"a1", "a2"}, {"b1", "b2", "b3"}, {"c1", "c2"}},
       {},
       0,
       {1},
       DeleteMarkedCommand,
       "",
       {{"a2"},
        {{"b1", "b2", "b3"}, {"c1", "c2"}},
        {"3: b1, b2, b3", "2: c1, c2"},
        0,
        {"b1", "b2", "b3"},
        caption + "(2)"}},
      {"ending the last group row selects the row above",
       {{"a1", "a2", "a3"}, {"b1", "b2"}},
       {},
       1,
       {0},
       DeleteMarkedCommand,
       "",
       {{"b1"}, {{"a1", "a2", "a3"}}, {"3: a1, a2, a3"}, 0, {"a1", "a2", "a3"}, caption + "(1)"}},
      {"ending the only group leaves both boxes empty",
       {{"a1", "a2"}},
       {},
       0,
       {0},
       DeleteMarkedCommand,
       "",
       {{"a1"}, {}, {}, -1, {}, caption + "(0)", -1}},
      // The group's line keeps its old text until the box is rebuilt; the caption stays too.
      {"marked first of three: the second becomes the first member",
       {{"a1", "a2", "a3"}, {"b1", "b2"}},
       {},
       0,
       {0},
       DeleteMarkedCommand,
       "",
       {{"a1"},
        {{"a2", "a3"}, {"b1", "b2"}},
        {"3: a1, a2, a3", "2: b1, b2"},
        0,
        {"a2", "a3"},
        caption + "(2 - 5)"}},
      {"marked middle of three: the chain closes, the row below is selected",
       {{"a1", "a2", "a3"}},
       {},
       0,
       {1},
       DeleteMarkedCommand,
       "",
       {{"a2"}, {{"a1", "a3"}}, {"3: a1, a2, a3"}, 0, {"a1", "a3"}, caption + "(1 - 3)", 1}},
      {"marked last of three: the chain ends early, the new last row is selected",
       {{"a1", "a2", "a3"}},
       {},
       0,
       {2},
       DeleteMarkedCommand,
       "",
       {{"a3"}, {{"a1", "a2"}}, {"3: a1, a2, a3"}, 0, {"a1", "a2"}, caption + "(1 - 3)", 1}},
      {"marking twice in a group of three dissolves it and appends in order",
       {{"a1", "a2", "a3"}, {"b1", "b2"}},
       {},
       0,
       {2, 0},
       DeleteMarkedCommand,
       "",
       {{"a3", "a1"}, {{"b1", "b2"}}, {"2: b1, b2"}, 0, {"b1", "b2"}, caption + "(1)"}},
      {"keeping one of four takes the others in group order",
       {{"x1", "x2"}, {"a1", "a2", "a3", "a4"}, {"c1", "c2", "c3"}},
       {},
       1,
       {2},
       DeleteOthersCommand,
       "",
       {{"a1", "a2", "a4"},
        {{"x1", "x2"}, {"c1", "c2", "c3"}},
        {"2: x1, x2", "3: c1, c2, c3"},
        1,
        {"c1", "c2", "c3"},
        caption + "(2)"}},
      // The first member of an all-matching group stays out of the list; its group still goes.
      {"a pattern never takes every copy and still examines the next groups",
       {{"x.bak", "y.bak", "z.tmp"},
        {"p.txt", "q.bak", "r.txt"},
        {"m.bak", "n.txt", "o.txt"},
        {"s.tmp", "t.tmp"}},
       {},
       -1,
       {},
       DeleteByPatternCommand,
       "*.bak *.tmp",
       {{"y.bak", "z.tmp", "q.bak", "m.bak", "t.tmp"},
        {{"p.txt", "r.txt"}, {"n.txt", "o.txt"}},
        {"2: p.txt, r.txt", "2: n.txt, o.txt"},
        0,
        {"p.txt", "r.txt"},
        caption + "(2 - 4)"}},
      {"a pattern without matches empties the list and keeps the groups",
       {{"a1.txt", "a2.txt"}, {"b1.doc", "b2.doc", "b3.doc"}},
       {"earlier"},
       -1,
       {},
       DeleteByPatternCommand,
       "*.bak",
       {{},
        {{"a1.txt", "a2.txt"}, {"b1.doc", "b2.doc", "b3.doc"}},
        {"2: a1.txt, a2.txt", "3: b1.doc, b2.doc, b3.doc"},
        0,
        {"a1.txt", "a2.txt"},
        caption + "(2 - 5)"}},
  };
  for (const CommandCase& c : cases) {
    SCOPED_TRACE(c.what);
    ProgramHarness harness;
    std::size_t files = c.gatheredBefore.size();
    for (const Names& group : c.groups) {
      harness.AddGroupOfNames("/d", group);
      files += group.size();
    }
    for (const std::string& name : c.gatheredBefore) {
      harness.AddToDelete(harness.AddFile("/d", name, 1));
    }
    if (c.chosenGroup >= 0) {
      harness.ShowGroupsAndChoose(c.chosenGroup);
    }
    if (!c.pattern.empty()) {
      harness.widgets.SetText(kDeletePatternField, c.pattern);
    }
    for (const int row : c.markedRows) {
      harness.widgets.SelectRow(kMembersBox, row);
      c.command(harness.program);
    }
    if (c.markedRows.empty()) {
      c.command(harness.program);
    }

    ExpectLists(harness, c.expected);
    EXPECT_EQ(harness.FileNamesInCatalogue().size(), files) << "the catalogue keeps every record";
  }
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
