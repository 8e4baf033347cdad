#include "catalogue/cursor_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "catalogue/records.h"

namespace kopiensieb {
namespace {

using Texts = std::vector<std::string>;

// The texts reachable from the first record, in list order, without moving the cursor.
Texts TextsOf(CursorList<TextRecord>& list) {
  Texts texts;
  list.ForEach([&](TextRecord& record) { texts.push_back(record.text); });
  return texts;
}

// The same by the cursor's own forward steps (rules 3 and 4), as the commands walk lists.
Texts TextsByStepping(CursorList<TextRecord>& list) {
  Texts texts;
  list.ResetCursor();
  while (list.StepForward()) {
    texts.push_back(list.Current()->text);
  }
  return texts;
}

std::string CurrentText(const CursorList<TextRecord>& list) {
  return list.Current() == nullptr ? "<none>" : list.Current()->text;
}

void AddTexts(CursorList<TextRecord>& list, const Texts& texts) {
  for (const std::string& text : texts) {
    list.Add().text = text;
  }
}

TEST(CursorListTest, ANewListIsEmptyAndDeletingWithoutACurrentRecordDoesNothing) {
  CursorList<TextRecord> list;
  EXPECT_TRUE(list.Empty());
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(list.Current(), nullptr);
  EXPECT_EQ(list.First(), nullptr);
  EXPECT_EQ(list.CurrentPosition(), 0);
  list.DeleteCurrent();
  EXPECT_TRUE(list.Empty());
  AddTexts(list, {"a", "b"});
  list.ResetCursor();
  list.DeleteCurrent();
  EXPECT_EQ(TextsOf(list), (Texts{"a", "b"}));
  EXPECT_EQ(list.Count(), 2);
}

TEST(CursorListTest, AddsBehindTheCurrentRecordOrAtTheFront) {
  CursorList<TextRecord> list;
  AddTexts(list, {"a", "b", "c"});
  EXPECT_EQ(TextsOf(list), (Texts{"a", "b", "c"}));
  EXPECT_EQ(CurrentText(list), "c");

  list.SelectIndex(0);
  list.Add().text = "d";
  EXPECT_EQ(TextsOf(list), (Texts{"a", "d", "b", "c"}));
  EXPECT_EQ(CurrentText(list), "d");

  list.ResetCursor();
  list.Add().text = "front";
  EXPECT_EQ(TextsOf(list), (Texts{"front", "a", "d", "b", "c"}));
  EXPECT_EQ(list.CurrentPosition(), 1);
  EXPECT_EQ(TextsByStepping(list), TextsOf(list));  // links agree in both directions' use
}

TEST(CursorListTest, StepsForwardFromNoneOrAResetToFirstAndStopsAtTheLast) {
  CursorList<TextRecord> empty;
  EXPECT_FALSE(empty.StepForward());
  EXPECT_EQ(empty.Current(), nullptr);

  CursorList<TextRecord> list;
  AddTexts(list, {"a", "b"});
  list.ResetCursor();
  EXPECT_EQ(list.Current(), nullptr);
  EXPECT_EQ(list.CurrentPosition(), 0);
  ASSERT_TRUE(list.StepForward());
  EXPECT_EQ(CurrentText(list), "a");
  ASSERT_TRUE(list.StepForward());
  EXPECT_EQ(CurrentText(list), "b");
  EXPECT_FALSE(list.StepForward());
  EXPECT_EQ(CurrentText(list), "b");
  EXPECT_FALSE(list.StepForward());
  EXPECT_EQ(CurrentText(list), "b");
}

TEST(CursorListTest, DeletingMovesTheCursorToThePredecessorOrElseTheSuccessor) {
  struct Case {
    Texts texts;
    std::int64_t deleted;  // index
    int times;             // deletions in a row, each of the record the one before left current
    Texts left;
    std::string current;
    std::int64_t position;
    bool currentIsLast;
  };
  const std::vector<Case> cases{
      {{"a", "b", "c"}, 0, 1, {"b", "c"}, "b", 1, false},
      {{"a", "b", "c"}, 1, 1, {"a", "c"}, "a", 1, false},
      {{"a", "b", "c"}, 2, 1, {"a", "b"}, "b", 2, true},
      {{"only"}, 0, 1, {}, "<none>", 0, false},
      {{"a", "b", "c", "d", "e"}, 2, 2, {"a", "d", "e"}, "a", 1, false},
      {{"a", "b", "c", "d"}, 0, 4, {}, "<none>", 0, false},  // every record from the front
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("deleting " + c.texts[static_cast<std::size_t>(c.deleted)] + " " +
                 std::to_string(c.times) + " times");
    CursorList<TextRecord> list;
    AddTexts(list, c.texts);
    EXPECT_EQ(list.Count(), static_cast<std::int64_t>(c.texts.size()));
    list.SelectIndex(c.deleted);
    for (int deletion = 1; deletion <= c.times; ++deletion) {
      list.DeleteCurrent();
      EXPECT_EQ(list.Count(), static_cast<std::int64_t>(c.texts.size()) - deletion);
    }
    EXPECT_EQ(TextsOf(list), c.left);
    EXPECT_EQ(list.Count(), static_cast<std::int64_t>(c.left.size()));
    EXPECT_EQ(list.Empty(), c.left.empty());
    EXPECT_EQ(CurrentText(list), c.current);
    EXPECT_EQ(list.CurrentPosition(), c.position);
    if (c.currentIsLast) {
      EXPECT_FALSE(list.StepForward());
    }
    // The list works on after the deletion: a new record goes behind the current one.
    list.Add().text = "again";
    Texts withNew = c.left;
    withNew.insert(withNew.begin() + c.position, "again");
    EXPECT_EQ(TextsOf(list), withNew);
    EXPECT_EQ(TextsByStepping(list), withNew);
  }
}

TEST(CursorListTest, SelectsByIndexFromZeroClampingAtTheEndAndCountsPositionsFromOne) {
  struct Case {
    std::int64_t index;
    std::string current;
    std::int64_t position;
  };
  CursorList<TextRecord> list;
  AddTexts(list, {"a", "b", "c"});
  for (const Case& c : {Case{0, "a", 1}, Case{1, "b", 2}, Case{2, "c", 3}, Case{5, "c", 3},
                        Case{3, "c", 3}, Case{-1, "<none>", 0}}) {
    list.SelectIndex(c.index);
    EXPECT_EQ(CurrentText(list), c.current) << c.index;
    EXPECT_EQ(list.CurrentPosition(), c.position) << c.index;
  }
  list.SelectIndex(1);
  list.ResetCursor();
  EXPECT_EQ(list.CurrentPosition(), 0);

  CursorList<TextRecord> empty;
  for (const std::int64_t index : {-1, 0, 1, 7}) {
    empty.SelectIndex(index);
    EXPECT_EQ(empty.Current(), nullptr) << index;
  }
}

TEST(CursorListTest, ClearRemovesEverythingAndLeavesNoCurrentRecord) {
  CursorList<TextRecord> list;
  AddTexts(list, {"a", "b", "c"});
  list.Clear();
  EXPECT_TRUE(list.Empty());
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(list.Current(), nullptr);
  EXPECT_FALSE(list.StepForward());
  AddTexts(list, {"x", "y"});
  EXPECT_EQ(TextsOf(list), (Texts{"x", "y"}));
}

TEST(CursorListTest, MakesAHeldReferenceCurrentDirectly) {
  CursorList<TextRecord> list;
  list.Add().text = "a";
  TextRecord& second = list.Add();
  second.text = "b";
  list.Add().text = "c";
  list.MakeCurrent(second);
  EXPECT_EQ(list.Current(), &second);
  EXPECT_EQ(list.CurrentPosition(), 2);
  ASSERT_TRUE(list.StepForward());
  EXPECT_EQ(CurrentText(list), "c");
  list.MakeCurrent(second);
  list.DeleteCurrent();
  EXPECT_EQ(CurrentText(list), "a");
}

TEST(CursorListTest, RecordsStayPutWhileOthersComeAndGo) {
  FileCatalogue catalogue;
  std::vector<FileRecord*> kept;
  for (int index = 0; index < 1000; ++index) {
    FileRecord& record = catalogue.Add();
    record.name = "kept" + std::to_string(index);
    record.size = index;
    kept.push_back(&record);
    // Interleave records that are deleted again, so that the pool grows and recycles.
    catalogue.Add().name = "gone";
    catalogue.DeleteCurrent();
  }
  for (int index = 0; index < 5000; ++index) {
    catalogue.Add().name = "more";
  }
  EXPECT_EQ(catalogue.Count(), 6000);
  for (int index = 0; index < 1000; ++index) {
    ASSERT_EQ(kept[index]->name, "kept" + std::to_string(index));
    ASSERT_EQ(kept[index]->size, index);
  }
  // And every kept record is still the list's own: reachable where it was put.
  catalogue.SelectIndex(999);
  EXPECT_EQ(catalogue.Current(), kept[999]);
}

TEST(CursorListTest, RecycledRecordsComeBackZeroFilled) {
  FileCatalogue catalogue;
  FileRecord& used = catalogue.Add();
  used.size = 4242;
  used.identity = FileIdentity{7, 9};
  used.modifiedNs = 123;
  used.folder = "/tmp";
  used.name = "x.bak";
  used.grouped = true;
  used.shownInFilesView = true;
  catalogue.DeleteCurrent();

  FileRecord& fresh = catalogue.Add();
  EXPECT_EQ(&fresh, &used);  // the very slot, recycled
  EXPECT_EQ(fresh.size, 0);
  EXPECT_EQ(fresh.identity, FileIdentity{});
  EXPECT_EQ(fresh.modifiedNs, 0);
  EXPECT_EQ(fresh.folder, "");
  EXPECT_EQ(fresh.name, "");
  EXPECT_FALSE(fresh.grouped);
  EXPECT_FALSE(fresh.shownInFilesView);
  EXPECT_EQ(catalogue.Count(), 1);
  EXPECT_FALSE(catalogue.StepForward());  // no stale link survived

  ToDeleteList entries;
  ToDeleteEntry& entry = entries.Add();
  entry.file = &fresh;
  entry.done = 1;
  entries.DeleteCurrent();
  const ToDeleteEntry& again = entries.Add();
  EXPECT_EQ(again.file, nullptr);
  EXPECT_EQ(again.done, 0);

  DuplicateGroupList groups;
  GroupMember member;
  DuplicateGroup& group = groups.Add();
  group.memberCount = 3;
  group.firstMember = &member;
  group.size = 10;
  groups.DeleteCurrent();
  const DuplicateGroup& reused = groups.Add();
  EXPECT_EQ(reused.memberCount, 0);
  EXPECT_EQ(reused.firstMember, nullptr);
  EXPECT_EQ(reused.size, 0);
}

// Members of three groups, built as the duplicate search builds them: the first member of
// each group starts a chain, the others are added behind it.
struct ThreeGroups {
  GroupMemberList members;
  std::vector<GroupMember*> firsts;

  ThreeGroups() {
    const std::vector<std::vector<std::string>> groups = {
        {"a1", "a2", "a3"}, {"b1", "b2"}, {"c1", "c2", "c3", "c4"}};
    for (const auto& names : groups) {
      GroupMember& first = members.AddStartingChain();
      first.name = names.front();
      firsts.push_back(&first);
      for (std::size_t index = 1; index < names.size(); ++index) {
        members.Add().name = names[index];
      }
    }
  }

  // The names from a chain's first record by forward steps (rules 10 and 3).
  Texts Chain(std::size_t group) {
    Texts names;
    members.MakeCurrent(*firsts[group]);
    do {
      names.push_back(members.Current()->name);
    } while (members.StepForward());
    return names;
  }
};

TEST(CursorListChainTest, SteppingFromAChainsFirstRecordStopsAtItsEnd) {
  ThreeGroups groups;
  EXPECT_EQ(groups.Chain(0), (Texts{"a1", "a2", "a3"}));
  EXPECT_EQ(groups.Chain(1), (Texts{"b1", "b2"}));
  EXPECT_EQ(groups.Chain(2), (Texts{"c1", "c2", "c3", "c4"}));
  for (GroupMember* first : groups.firsts) {
    EXPECT_EQ(GroupMemberList::Previous(*first), nullptr);
  }
  groups.members.MakeCurrent(*groups.firsts[1]);
  EXPECT_EQ(groups.members.CurrentPosition(), 1);  // positions count within the chain
}

TEST(CursorListChainTest, CountCountsWhatIsReachableFromTheFirstRecord) {
  ThreeGroups groups;
  EXPECT_EQ(groups.members.Count(), 3);
  groups.members.MakeCurrent(*groups.firsts[0]);
  groups.members.DeleteCurrent();
  EXPECT_EQ(groups.members.Count(), 2);
  // Adding to a later chain does not change what the first chain reaches.
  groups.members.MakeCurrent(*groups.firsts[2]);
  groups.members.Add().name = "c1b";
  EXPECT_EQ(groups.members.Count(), 2);
  EXPECT_EQ(groups.Chain(2), (Texts{"c1", "c1b", "c2", "c3", "c4"}));
}

TEST(CursorListChainTest, DeletingAChainsFirstMovesTheCursorToItsSuccessor) {
  ThreeGroups groups;
  GroupMember* second = GroupMemberList::Next(*groups.firsts[1]);
  groups.members.MakeCurrent(*groups.firsts[1]);
  groups.members.DeleteCurrent();
  ASSERT_EQ(groups.members.Current(), second);
  EXPECT_EQ(second->name, "b2");
  EXPECT_EQ(GroupMemberList::Previous(*second), nullptr);  // now the chain's first
  EXPECT_FALSE(groups.members.StepForward());
  // The neighbouring chains are untouched.
  EXPECT_EQ(groups.Chain(0), (Texts{"a1", "a2", "a3"}));
  EXPECT_EQ(groups.Chain(2), (Texts{"c1", "c2", "c3", "c4"}));
}

TEST(CursorListChainTest, ALastMemberHasNoSuccessorAndDeletingItEndsTheChainEarlier) {
  ThreeGroups groups;
  groups.members.MakeCurrent(*groups.firsts[0]);
  groups.members.StepForward();
  groups.members.StepForward();
  EXPECT_EQ(groups.members.Current()->name, "a3");
  EXPECT_EQ(GroupMemberList::Next(*groups.members.Current()), nullptr);
  EXPECT_FALSE(groups.members.StepForward());
  EXPECT_EQ(groups.members.Current()->name, "a3");
  groups.members.DeleteCurrent();
  EXPECT_EQ(groups.members.Current()->name, "a2");
  EXPECT_FALSE(groups.members.StepForward());
  EXPECT_EQ(groups.Chain(0), (Texts{"a1", "a2"}));
  EXPECT_EQ(groups.Chain(1), (Texts{"b1", "b2"}));
}

TEST(CursorListChainTest, DeletingAWholeChainLeavesTheOthersReachable) {
  ThreeGroups groups;
  groups.members.MakeCurrent(*groups.firsts[1]);
  groups.members.DeleteCurrent();  // b1; the cursor moves on to b2
  groups.members.DeleteCurrent();  // b2, alone now: no record current
  EXPECT_EQ(groups.members.Current(), nullptr);
  EXPECT_EQ(groups.Chain(0), (Texts{"a1", "a2", "a3"}));
  EXPECT_EQ(groups.Chain(2), (Texts{"c1", "c2", "c3", "c4"}));
  groups.members.Clear();
  EXPECT_EQ(groups.members.Count(), 0);
  EXPECT_TRUE(groups.members.Empty());
}

}  // namespace
}  // namespace kopiensieb
