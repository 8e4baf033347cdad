#include "results/todelete_window.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "common/text.h"
#include "memory_file_services.h"
#include "program_fixture.h"
#include "results/refresh_lists.h"
#include "shell/control_numbers.h"
#include "shell/deletion_selection.h"
#include "temp_folder.h"

namespace kopiensieb::testing {
namespace {

using Names = std::vector<std::string>;

const std::string kFailurePrefix = "Die folgende Datei konnte nicht gelöscht werden:\r";
const std::string kLastCopyPrefix =
    "Die folgende Datei wurde nicht gelöscht, weil sonst keine Kopie übrig bliebe:\r";

// The boxes shown, in order, as "failed PATH" (not the catalogued file, or not deletable) or
// "last copy PATH" (kept so that a copy is left). Any other box fails the test.
Names ErrorBoxes(const HeadlessWidgetServices& widgets) {
  Names boxes;
  for (const auto& box : widgets.MessageBoxes()) {
    EXPECT_EQ(box.title, "ERROR");
    EXPECT_EQ(box.icon, MessageIcon::Error);
    if (box.text.starts_with(kLastCopyPrefix)) {
      boxes.push_back("last copy " + box.text.substr(kLastCopyPrefix.size()));
    } else if (box.text.starts_with(kFailurePrefix)) {
      boxes.push_back("failed " + box.text.substr(kFailurePrefix.size()));
    } else {
      ADD_FAILURE() << box.text;
    }
  }
  return boxes;
}

// The boxes of one kind ("failed " or "last copy ") among ErrorBoxes, as paths.
Names PathsIn(const Names& boxes, const std::string& kind) {
  Names paths;
  for (const std::string& box : boxes) {
    if (box.starts_with(kind)) {
      paths.push_back(box.substr(kind.size()));
    }
  }
  return paths;
}

Event ClickOn(int control) {
  return Event{EventKind::Control, kToDeleteWindow, control};
}
Event OtherEventOfTheWindow() {
  return Event{EventKind::Other, kToDeleteWindow, -1};
}

// The ToDelete window opened, "Alles markieren" and "Mark. löschen".
void DeleteEverything(ProgramHarness& harness) {
  OpenToDeleteWindow(harness.program);
  SelectAllCommand(harness.program);
  DeleteSelectedCommand(harness.program);
}

// Real files in a temporary folder, catalogued as a scan would have recorded them.
class ToDeleteWindowTest : public ProgramTest {
 protected:
  FileRecord& Catalogue(const std::string& name, const std::string& content) {
    folder.WriteFile(name, content);
    return harness.AddExistingFile(folder.Path(), name);
  }

  // Catalogues the files, each with a copy of it ("NAME.copy") that stays, shows them in
  // FilesView and gathers the files (not the copies) in ToDeleteList, each marked from the
  // group of itself and its copy.
  void GatherAll(const Names& names) {
    for (const std::string& name : names) {
      FileRecord& file = Catalogue(name, "content of " + name);
      FileRecord& copy = Catalogue(name + ".copy", "content of " + name);
      harness.AddToDelete(file, {&file, &copy});
    }
    RefreshLists(program, kRefreshFiles);
  }

  // FilesView without the rows of the copies that GatherAll makes.
  Names FilesViewWithoutCopies() {
    Names names;
    for (const std::string& name : harness.RowTexts(kFilesView)) {
      if (!name.ends_with(".copy")) {
        names.push_back(name);
      }
    }
    return names;
  }

  void SelectRows(const std::vector<int>& rows) {
    for (const int row : rows) {
      widgets.SetRowSelected(kToDeleteView, row, true, false);
    }
  }

  std::int64_t ModifiedNsOf(const std::string& name) {
    std::int64_t modifiedNs = 0;
    state.fileCatalogue.ForEach([&](const FileRecord& record) {
      if (record.name == name) {
        modifiedNs = record.modifiedNs;
      }
    });
    return modifiedNs;
  }

  void Handle(const Event& event) { HandleToDeleteWindowEvent(program, event); }
  Names EntryNames() { return harness.ToDeleteNames(); }
  std::vector<int> SelectedViewRows() const { return harness.SelectedRows(kToDeleteView); }

  TempFolder folder;
};

TEST_F(ToDeleteWindowTest, OpensWithItsLayoutAndTheGatheredFiles) {
  GatherAll({"a.txt", "bb.txt"});

  OpenToDeleteWindow(program);

  ASSERT_TRUE(state.toDeleteWindowOpen);
  const HeadlessWindow* window = widgets.Window(kToDeleteWindow);
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(window->layout.title, "ToDelete-Liste");
  EXPECT_EQ(window->layout.clientWidth, 600);
  EXPECT_EQ(window->layout.clientHeight, 300);
  EXPECT_EQ(window->layout.placement, WindowPlacement::CentredOnActiveWindow);
  EXPECT_FALSE(window->layout.hasCloseBox);
  EXPECT_EQ(window->controls, std::vector<int>({200, 201, 202, 203, 205, 204}));

  const std::map<int, std::pair<Geometry, std::string>> expected{
      {200,
       {{5, 5, 590, 42},
        "Markieren sie die Dateien,\rdie sie löschen wollen,\rmit STRG oder SHIFT"}},
      {202, {{500, 52, 95, 20}, "Mark. löschen"}},
      {203, {{500, 72, 95, 20}, "Mark. verwerfen"}},
      {205, {{500, 92, 95, 20}, "Alles markieren"}},
      {204, {{500, 275, 95, 20}, "Schließen"}},
  };
  for (const auto& [number, shape] : expected) {
    SCOPED_TRACE(number);
    const HeadlessControl& control = harness.Control(number);
    EXPECT_EQ(control.window, kToDeleteWindow);
    EXPECT_EQ(control.geometry, shape.first);
    EXPECT_EQ(control.text, shape.second);
    EXPECT_EQ(control.kind, number == 200 ? ControlKind::Label : ControlKind::Button);
  }
  EXPECT_TRUE(harness.Control(200).options.centred);
  EXPECT_TRUE(harness.Control(200).options.sunken);

  const HeadlessControl& view = harness.Control(kToDeleteView);
  EXPECT_EQ(view.kind, ControlKind::ListView);
  EXPECT_EQ(view.geometry, (Geometry{5, 52, 490, 243}));
  EXPECT_TRUE(view.options.multipleSelection);
  EXPECT_TRUE(view.options.fullRowSelection);
  EXPECT_EQ(harness.Columns(kToDeleteView), (std::vector<std::pair<std::string, int>>{
                                                {"Name", 150}, {"Pfad", 200}, {"Größe", 100}}));
  EXPECT_EQ(harness.RowTexts(kToDeleteView), Names({"a.txt", "bb.txt"}));
  EXPECT_EQ(harness.RowTexts(kToDeleteView, 1), Names({folder.Path(), folder.Path()}));
  EXPECT_EQ(harness.RowTexts(kToDeleteView, 2), Names({"16 Bytes", "17 Bytes"}));
  EXPECT_TRUE(SelectedViewRows().empty());
}

TEST_F(ToDeleteWindowTest, AvailabilityFollowsTheListAtTheWindowsNextEvent) {
  GatherAll({"a.txt", "b.txt"});
  OpenToDeleteWindow(program);
  Handle(OtherEventOfTheWindow());
  for (const int control : {201, 202, 203, 204, 205}) {
    EXPECT_TRUE(widgets.IsEnabled(control)) << control;
  }

  Handle(ClickOn(kSelectAllButton));
  Handle(ClickOn(kDeleteSelectedButton));
  ASSERT_TRUE(state.toDeleteList.Empty());
  EXPECT_TRUE(widgets.IsEnabled(kDeleteSelectedButton)) << "changes only at the next event";
  EXPECT_EQ(harness.RowTexts(kToDeleteView), Names({"(keine Dateien zum Löschen)"}));

  Handle(OtherEventOfTheWindow());
  for (const int control : {201, 202, 203}) {
    EXPECT_FALSE(widgets.IsEnabled(control)) << control;
  }
  for (const int control : {200, 204, 205}) {
    EXPECT_TRUE(widgets.IsEnabled(control)) << control;
  }
  // "Alles markieren" leaves the row that stands for no entry unselected.
  Handle(ClickOn(kSelectAllButton));
  EXPECT_TRUE(SelectedViewRows().empty());
  EXPECT_EQ(harness.RowTexts(kToDeleteView), Names({"(keine Dateien zum Löschen)"}));
}

TEST_F(ToDeleteWindowTest, DiscardDropsTheSelectedEntriesAndTouchesNothing) {
  GatherAll({"a.txt", "b.txt", "c.txt", "d.txt"});
  OpenToDeleteWindow(program);
  const Names filesViewBefore = harness.RowTexts(kFilesView);
  // With no row selected, neither button acts.
  Handle(ClickOn(kDeleteSelectedButton));
  Handle(ClickOn(kDiscardSelectedButton));
  EXPECT_EQ(EntryNames(), Names({"a.txt", "b.txt", "c.txt", "d.txt"}));
  EXPECT_EQ(harness.RowTexts(kToDeleteView), EntryNames());
  SelectRows({0, 1});

  Handle(ClickOn(kDiscardSelectedButton));

  EXPECT_EQ(EntryNames(), Names({"c.txt", "d.txt"}));
  EXPECT_EQ(harness.RowTexts(kToDeleteView), Names({"c.txt", "d.txt"}));
  EXPECT_TRUE(SelectedViewRows().empty());
  for (const char* name : {"a.txt", "b.txt", "c.txt", "d.txt"}) {
    EXPECT_EQ(folder.ReadFile(name), std::string("content of ") + name);
  }
  EXPECT_EQ(harness.RowTexts(kFilesView), filesViewBefore);
  EXPECT_TRUE(widgets.MessageBoxes().empty());
}

TEST_F(ToDeleteWindowTest, SelectAllThenDeleteRemovesEveryFileFromDisk) {
  GatherAll({"a.txt", "b.txt", "c.txt"});
  folder.WriteFile("bystander.txt", "stays");
  OpenToDeleteWindow(program);

  Handle(ClickOn(kSelectAllButton));
  EXPECT_EQ(SelectedViewRows(), std::vector<int>({0, 1, 2}));
  EXPECT_EQ(harness.Control(kToDeleteView).focusedRow, 2);
  Handle(ClickOn(kDeleteSelectedButton));

  for (const char* name : {"a.txt", "b.txt", "c.txt"}) {
    EXPECT_FALSE(folder.Exists(name)) << name;
  }
  EXPECT_EQ(folder.ReadFile("bystander.txt"), "stays");
  EXPECT_TRUE(state.toDeleteList.Empty());
  EXPECT_TRUE(widgets.MessageBoxes().empty());
  EXPECT_EQ(state.fileCatalogue.Count(), 6) << "records of deleted files stay catalogued";
  EXPECT_EQ(harness.RowTexts(kFilesView), Names({"a.txt.copy", "b.txt.copy", "c.txt.copy"}));
  EXPECT_EQ(widgets.GetText(kFilesLabel), "Alle Dateien (6)");
}

TEST_F(ToDeleteWindowTest, TheCatalogueCursorStaysOnTheLastFileHandled) {
  GatherAll({"a.txt", "b.txt"});
  Catalogue("later.txt", "not gathered");
  OpenToDeleteWindow(program);
  RefreshLists(program, kRefreshFiles);  // as after a search: the cursor on the last record
  SelectRows({0, 1});
  Handle(ClickOn(kDeleteSelectedButton));
  ASSERT_TRUE(state.toDeleteList.Empty());
  ASSERT_NE(state.fileCatalogue.Current(), nullptr);
  EXPECT_EQ(state.fileCatalogue.Current()->name, "b.txt") << "a scan now inserts behind it";
}

TEST_F(ToDeleteWindowTest, AFolderAtThePathIsAFailureWithTheErrorBox) {
  GatherAll({"a.txt", "b.txt", "c.txt"});
  folder.Remove("b.txt");
  folder.MakeFolder("b.txt");

  DeleteEverything(harness);

  EXPECT_EQ(ErrorBoxes(widgets), Names{"failed " + folder.PathOf("b.txt")});
  EXPECT_EQ(EntryNames(), Names({"b.txt"}));
  EXPECT_EQ(harness.RowTexts(kToDeleteView), Names({"b.txt"}));
  EXPECT_FALSE(folder.Exists("a.txt"));
  EXPECT_FALSE(folder.Exists("c.txt"));
  EXPECT_TRUE(folder.Exists("b.txt"));
  EXPECT_EQ(FilesViewWithoutCopies(), Names({"b.txt"}));
}

TEST_F(ToDeleteWindowTest, AFileChangedSinceTheScanIsKeptWithTheErrorBox) {
  GatherAll({"longer.txt", "touched.txt", "replaced.txt", "same.txt"});
  // Other size.
  folder.WriteFile("longer.txt", "content of longer.txt and more");
  // Same size and content, other modification time.
  folder.SetModifiedNs("touched.txt", ModifiedNsOf("touched.txt") - 5'000'000'000);
  // Same size and modification time, but another file (another inode) stands there now.
  const std::int64_t replacedNs = ModifiedNsOf("replaced.txt");
  folder.WriteFile("replaced.tmp", "content of replaced.txt");
  std::filesystem::rename(folder.PathOf("replaced.tmp"), folder.PathOf("replaced.txt"));
  folder.SetModifiedNs("replaced.txt", replacedNs);

  DeleteEverything(harness);

  EXPECT_EQ(ErrorBoxes(widgets), Names({"failed " + folder.PathOf("longer.txt"),
                                        "failed " + folder.PathOf("touched.txt"),
                                        "failed " + folder.PathOf("replaced.txt")}));
  EXPECT_EQ(folder.ReadFile("longer.txt"), "content of longer.txt and more");
  EXPECT_EQ(folder.ReadFile("touched.txt"), "content of touched.txt");
  EXPECT_EQ(folder.ReadFile("replaced.txt"), "content of replaced.txt");
  EXPECT_FALSE(folder.Exists("same.txt"));
  EXPECT_EQ(EntryNames(), Names({"longer.txt", "touched.txt", "replaced.txt"}));
}

TEST_F(ToDeleteWindowTest, AFileAlreadyGoneCountsAsDeletedWithoutABox) {
  GatherAll({"a.txt", "gone.txt"});
  folder.Remove("gone.txt");
  OpenToDeleteWindow(program);
  SelectRows({1});

  Handle(ClickOn(kDeleteSelectedButton));

  EXPECT_TRUE(widgets.MessageBoxes().empty());
  EXPECT_EQ(EntryNames(), Names({"a.txt"}));
  EXPECT_EQ(FilesViewWithoutCopies(), Names({"a.txt"}));
  EXPECT_TRUE(folder.Exists("a.txt"));
}

TEST_F(ToDeleteWindowTest, DeletedFilesLeaveFilesViewWhateverTheirPositions) {
  const Names names{"f0", "f1", "f2", "f3", "f4", "f5", "f6"};
  std::vector<FileRecord*> records;
  for (const std::string& name : names) {
    records.push_back(&Catalogue(name, "x" + name));
  }
  RefreshLists(program, kRefreshFiles);
  // Gathered in another order than the catalogue's, each from a group of equal names with f1,
  // which stays.
  for (const int index : {5, 0, 3, 6, 2}) {
    FileRecord& file = *records[static_cast<std::size_t>(index)];
    harness.AddToDelete(file, {&file, records[1]}, /*equalContent=*/false);
  }
  OpenToDeleteWindow(program);
  SelectRows({0, 1, 2});

  Handle(ClickOn(kDeleteSelectedButton));

  EXPECT_EQ(harness.RowTexts(kFilesView), Names({"f1", "f2", "f4", "f6"}));
  EXPECT_EQ(harness.RowTexts(kFilesView, 1), Names({"3 Bytes", "3 Bytes", "3 Bytes", "3 Bytes"}));
  EXPECT_EQ(widgets.GetText(kFilesLabel), "Alle Dateien (7)");

  // A second deletion finds its rows among the rows that are left.
  SelectRows({0, 1});  // f6, f2
  Handle(ClickOn(kDeleteSelectedButton));

  EXPECT_EQ(harness.RowTexts(kFilesView), Names({"f1", "f4"}));
  EXPECT_EQ(widgets.GetText(kFilesLabel), "Alle Dateien (7)");
  EXPECT_TRUE(state.toDeleteList.Empty());
  EXPECT_TRUE(folder.Exists("f1"));
  EXPECT_TRUE(folder.Exists("f4"));
}

TEST_F(ToDeleteWindowTest, TheSameFileGatheredTwiceLosesOneFilesViewRow) {
  FileRecord& twice = Catalogue("twice.txt", "t");
  FileRecord& other = Catalogue("other.txt", "o");
  RefreshLists(program, kRefreshFiles);
  harness.AddToDelete(twice, {&twice, &other}, /*equalContent=*/false);
  harness.AddToDelete(twice, {&twice, &other}, /*equalContent=*/false);
  OpenToDeleteWindow(program);
  SelectRows({0, 1});

  Handle(ClickOn(kDeleteSelectedButton));

  EXPECT_TRUE(state.toDeleteList.Empty());
  EXPECT_TRUE(widgets.MessageBoxes().empty());
  EXPECT_EQ(harness.RowTexts(kFilesView), Names({"other.txt"}));
}

TEST_F(ToDeleteWindowTest, ClosingKeepsTheEntriesForTheNextOpening) {
  GatherAll({"a.txt", "b.txt"});
  OpenToDeleteWindow(program);
  SelectRows({1});

  Handle(ClickOn(kCloseToDeleteButton));

  EXPECT_FALSE(state.toDeleteWindowOpen);
  EXPECT_EQ(widgets.Window(kToDeleteWindow), nullptr);
  EXPECT_EQ(widgets.Control(kToDeleteView), nullptr);
  EXPECT_EQ(EntryNames(), Names({"a.txt", "b.txt"}));
  EXPECT_TRUE(folder.Exists("b.txt"));

  OpenToDeleteWindow(program);
  EXPECT_TRUE(state.toDeleteWindowOpen);
  EXPECT_EQ(harness.RowTexts(kToDeleteView), Names({"a.txt", "b.txt"}));
  EXPECT_TRUE(SelectedViewRows().empty());
}

TEST_F(ToDeleteWindowTest, TheEmptyStateRowNeverStandsForAnEntry) {
  FileRecord& first = Catalogue("first.txt", "same");
  FileRecord& second = Catalogue("second.txt", "same");
  harness.AddGroup({&first, &second});
  RefreshLists(program, kRefreshGroups);
  widgets.SelectRow(kGroupsBox, 0);
  RefreshLists(program, kRefreshMembers);
  OpenToDeleteWindow(program);
  ASSERT_EQ(harness.RowTexts(kToDeleteView), Names({"(keine Dateien zum Löschen)"}));
  SelectRows({0});

  // The main window gathers a file while the user has the empty-state row selected.
  widgets.SelectRow(kMembersBox, 1);
  DeleteMarkedCommand(program);
  Handle(ClickOn(kDeleteSelectedButton));

  EXPECT_TRUE(folder.Exists("second.txt"));
  EXPECT_EQ(EntryNames(), Names({"second.txt"}));
  EXPECT_EQ(harness.RowTexts(kToDeleteView), Names({"second.txt"}));
}

TEST_F(ToDeleteWindowTest, AListBehindItsEntriesIsShownAfreshInsteadOfActedOn) {
  GatherAll({"a.txt", "b.txt"});
  OpenToDeleteWindow(program);
  harness.AddToDelete(Catalogue("late.txt", "l"));  // no rebuild: rows lag behind the entries
  SelectRows({0, 1});

  Handle(ClickOn(kDeleteSelectedButton));
  EXPECT_EQ(harness.RowTexts(kToDeleteView), Names({"a.txt", "b.txt", "late.txt"}));
  EXPECT_TRUE(SelectedViewRows().empty());
  EXPECT_TRUE(folder.Exists("a.txt"));
  EXPECT_TRUE(folder.Exists("b.txt"));

  SelectRows({2});
  Handle(ClickOn(kDiscardSelectedButton));
  EXPECT_EQ(EntryNames(), Names({"a.txt", "b.txt"}));
}

TEST_F(ToDeleteWindowTest, PurgeRemovesExactlyTheDoneEntriesInOrder) {
  struct Case {
    std::vector<int> done;
    Names left;
  };
  const std::vector<Case> cases{
      {{1, 1, 0, 1, 0, 1}, {"e2", "e4"}}, {{1, 1, 1}, {}}, {{0, 0, 0}, {"e0", "e1", "e2"}},
      {{0, 1, 1, 0}, {"e0", "e3"}},       {{1}, {}},       {{}, {}},
  };
  for (const Case& c : cases) {
    ProgramHarness fresh;
    for (std::size_t i = 0; i < c.done.size(); ++i) {
      FileRecord& record = fresh.AddFile("/d", "e" + std::to_string(i), 1);
      fresh.AddToDelete(record).done = c.done[i];
    }

    PurgeDoneEntries(fresh.State());

    EXPECT_EQ(fresh.ToDeleteNames(), c.left);
    EXPECT_EQ(fresh.State().toDeleteList.Count(), static_cast<std::int64_t>(c.left.size()));
  }
}

// Files on disk, catalogued, some gathered as if marked from groups, a change on disk after the
// marking, then "Alles markieren" and "Mark. löschen".
struct CopyCase {
  const char* what;
  std::vector<std::pair<std::string, std::string>> files;  // name, content; catalogue order
  struct Mark {
    std::string file;
    Names group;  // the group it was marked from (the file among them); none: no group known
    bool equalContent = true;
  };
  std::vector<Mark> marks;  // in list order
  std::function<void(TempFolder&, const std::map<std::string, FileRecord*>&)> change;
  Names leftOnDisk;     // of the catalogued files
  Names lastCopyBoxes;  // files kept since no copy would be left, in box order
  Names failureBoxes;   // files that are not the catalogued ones any more
};

void SetCataloguedTime(TempFolder& folder, const FileRecord& record) {
  folder.SetModifiedNs(record.name, record.modifiedNs);
}

const std::vector<CopyCase>& CopyCases() {
  const std::string text = "equal content, more than a chunk: " + std::string(3000, 'q');
  static const std::vector<CopyCase> cases{
      {"two equal files, each marked after its own search: the first goes, the second stays",
       {{"a.txt", text}, {"b.txt", text}},
       {{"a.txt", {"a.txt", "b.txt"}}, {"b.txt", {"a.txt", "b.txt"}}},
       nullptr,
       {"b.txt"},
       {"b.txt"},
       {}},
      {"three copies all marked over three searches: one survives",
       {{"a", text}, {"b", text}, {"c", text}},
       {{"a", {"a", "b", "c"}}, {"b", {"a", "b", "c"}}, {"c", {"a", "b", "c"}}},
       nullptr,
       {"c"},
       {"c"},
       {}},
      {"three copies, two marked from one search: the third is the copy of both",
       {{"a", text}, {"b", text}, {"c", text}},
       {{"a", {"a", "b", "c"}}, {"b", {"b", "c"}}},
       nullptr,
       {"c"},
       {},
       {}},
      {"a group of equal names, both marked: one file of the name survives",
       {{"Name.txt", "one text"}, {"name.TXT", "quite another text"}},
       {{"Name.txt", {"Name.txt", "name.TXT"}, false},
        {"name.TXT", {"Name.txt", "name.TXT"}, false}},
       nullptr,
       {"name.TXT"},
       {"name.TXT"},
       {}},
      {"the survivor rewritten with another size",
       {{"a", text}, {"b", text}},
       {{"a", {"a", "b"}}},
       [](TempFolder& folder, auto&) { folder.WriteFile("b", "now something else"); },
       {"a", "b"},
       {"a"},
       {}},
      {"the survivor deleted",
       {{"a", text}, {"b", text}},
       {{"a", {"a", "b"}}},
       [](TempFolder& folder, auto&) { folder.Remove("b"); },
       {"a"},
       {"a"},
       {}},
      {"the survivor touched: other modification time",
       {{"a", text}, {"b", text}},
       {{"a", {"a", "b"}}},
       [](TempFolder& folder, const auto& records) {
         folder.SetModifiedNs("b", records.at("b")->modifiedNs - 3'000'000'000);
       },
       {"a", "b"},
       {"a"},
       {}},
      {"the survivor replaced by another file of equal bytes, size and time",
       {{"a", text}, {"b", text}},
       {{"a", {"a", "b"}}},
       [text](TempFolder& folder, const auto& records) {
         // Made while the old one still exists, so it cannot get the old inode number.
         folder.WriteFile("b.new", text);
         std::filesystem::rename(folder.PathOf("b.new"), folder.PathOf("b"));
         SetCataloguedTime(folder, *records.at("b"));
       },
       {"a", "b"},
       {"a"},
       {}},
      {"the survivor's bytes changed with size and time kept",
       {{"a", text}, {"b", text}},
       {{"a", {"a", "b"}}},
       [](TempFolder& folder, const auto& records) {
         folder.WriteAt("b", 2500, "X");
         SetCataloguedTime(folder, *records.at("b"));
       },
       {"a", "b"},
       {"a"},
       {}},
      {"the same change in a group of equal names: the names still match",
       {{"a", "first"}, {"A", "second"}},
       {{"a", {"a", "A"}, false}},
       [](TempFolder& folder, const auto& records) {
         folder.WriteAt("A", 1, "X");
         SetCataloguedTime(folder, *records.at("A"));
       },
       {"A"},
       {},
       {}},
      {"an entry that knows no group is never deleted",
       {{"a", text}, {"b", text}},
       {{"a", {}}},
       nullptr,
       {"a", "b"},
       {"a"},
       {}},
      {"a file changed itself gets the failure box, not the copy box",
       {{"a", text}, {"b", text}},
       {{"a", {"a", "b"}}},
       [](TempFolder& folder, auto&) { folder.WriteFile("a", "changed"); },
       {"a", "b"},
       {},
       {"a"}},
  };
  return cases;
}

// Whether two of the names are one where names ignore case ("a" and "A" on Windows).
bool NamesCollide(const auto& files) {
  std::set<std::string> seen;
  for (const auto& [name, content] : files) {
    if (!seen.insert(kNativePaths.namesIgnoreCase ? LowerCase(name) : name).second) {
      return true;
    }
  }
  return false;
}

TEST(ToDeleteCopyTest, AFileIsDeletedOnlyWhileACopyOfItIsLeft) {
  for (const CopyCase& c : CopyCases()) {
    SCOPED_TRACE(c.what);
    if (NamesCollide(c.files)) {
      continue;  // the case's files cannot stand side by side in one folder here
    }
    TempFolder folder;
    ProgramHarness harness;
    std::map<std::string, FileRecord*> records;
    for (const auto& [name, content] : c.files) {
      folder.WriteFile(name, content);
      records[name] = &harness.AddExistingFile(folder.Path(), name);
    }
    RefreshLists(harness.program, kRefreshFiles);
    for (const CopyCase::Mark& mark : c.marks) {
      std::vector<FileRecord*> group;
      for (const std::string& name : mark.group) {
        group.push_back(records.at(name));
      }
      harness.AddToDelete(*records.at(mark.file), group, mark.equalContent);
    }
    if (c.change) {
      c.change(folder, records);
    }

    DeleteEverything(harness);

    Names left;
    for (const auto& [name, content] : c.files) {
      if (folder.Exists(name)) {
        left.push_back(name);
      }
    }
    EXPECT_EQ(left, c.leftOnDisk);
    const Names boxes = ErrorBoxes(harness.widgets);
    const auto pathsOf = [&folder](const Names& names) {
      Names paths;
      for (const std::string& name : names) {
        paths.push_back(folder.PathOf(name));
      }
      return paths;
    };
    EXPECT_EQ(PathsIn(boxes, "last copy "), pathsOf(c.lastCopyBoxes));
    EXPECT_EQ(PathsIn(boxes, "failed "), pathsOf(c.failureBoxes));
    // Exactly the kept files keep their entries and rows, in list order.
    Names expectedKept;
    for (const CopyCase::Mark& mark : c.marks) {
      if (std::ranges::find(c.lastCopyBoxes, mark.file) != c.lastCopyBoxes.end() ||
          std::ranges::find(c.failureBoxes, mark.file) != c.failureBoxes.end()) {
        expectedKept.push_back(mark.file);
      }
    }
    EXPECT_EQ(harness.ToDeleteNames(), expectedKept);
    if (!expectedKept.empty()) {
      EXPECT_EQ(harness.RowTexts(kToDeleteView), expectedKept);
    }
    // A file kept as the last copy keeps its FilesView row.
    const Names shown = harness.RowTexts(kFilesView);
    for (const std::string& name : c.leftOnDisk) {
      EXPECT_NE(std::ranges::find(shown, name), shown.end()) << name;
    }
  }
}

// A hard link of the file is the same file: deleting one name of it is no loss, but counting it
// as the copy would let the next deletion take the last name of the content.
TEST(ToDeleteCopyTest, AHardLinkOfTheFileIsNoCopyOfIt) {
  TempFolder folder;
  ProgramHarness harness;
  folder.WriteFile("a", "content");
  folder.MakeHardLink("h", "a");
  const std::vector<FileRecord*> group{&harness.AddExistingFile(folder.Path(), "a"),
                                       &harness.AddExistingFile(folder.Path(), "h")};
  harness.AddToDelete(*group[0], group);

  DeleteEverything(harness);

  EXPECT_TRUE(folder.Exists("a"));
  EXPECT_EQ(ErrorBoxes(harness.widgets), Names{"last copy " + folder.PathOf("a")});
}

// A folder on the way that may not be passed through hides the file, it does not remove it.
TEST(ToDeleteWindowLookupTest, AFileThatCannotBeLookedAtIsAFailureNotADeletion) {
  MemoryFileServices files;
  files.everyPathIs = PathKind::Unknown;
  ProgramHarness harness(files);
  FileRecord& hidden = harness.AddFile("/verschlossen", "a.txt", 3);
  RefreshLists(harness.program, kRefreshFiles);
  harness.AddToDelete(hidden);

  DeleteEverything(harness);

  EXPECT_EQ(ErrorBoxes(harness.widgets), Names{"failed " + NativePath("/verschlossen/a.txt")});
  EXPECT_EQ(harness.State().toDeleteList.Count(), 1);
  EXPECT_EQ(harness.RowTexts(kFilesView), Names({"a.txt"}));
}

// Deleting a quarter of a large catalogue must stay linear: one walk of the catalogue and one
// removal of FilesView rows (a row-by-row removal would take minutes here).
TEST(ToDeleteWindowScaleTest, DeletingManyFilesOfALargeCatalogueStaysLinear) {
  MemoryFileServices files;  // empty: every catalogued file counts as deleted already
  ProgramHarness harness(files);
  constexpr int kFiles = 200'000;
  std::vector<FileRecord*> records;
  records.reserve(kFiles);
  for (int i = 0; i < kFiles; ++i) {
    records.push_back(&harness.AddFile("/d", "f" + std::to_string(i), i));
  }
  RefreshLists(harness.program, kRefreshFiles);
  for (int i = 0; i < kFiles; i += 4) {
    harness.AddToDelete(*records[static_cast<std::size_t>(i)]);
  }

  DeleteEverything(harness);

  EXPECT_TRUE(harness.State().toDeleteList.Empty());
  const Names shown = harness.RowTexts(kFilesView);
  ASSERT_EQ(shown.size(), static_cast<std::size_t>(kFiles - kFiles / 4));
  EXPECT_EQ(shown[0], "f1");
  EXPECT_EQ(shown[2], "f3");
  EXPECT_EQ(shown[3], "f5");
  EXPECT_EQ(shown.back(), "f" + std::to_string(kFiles - 1));
  EXPECT_EQ(harness.widgets.GetText(kFilesLabel), "Alle Dateien (" + std::to_string(kFiles) + ")");
}

}  // namespace
}  // namespace kopiensieb::testing
