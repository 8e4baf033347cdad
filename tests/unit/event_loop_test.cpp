#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "platform/native_file_services.h"
#include "program_fixture.h"
#include "results/refresh_lists.h"
#include "shell/control_numbers.h"
#include "shell/event_loop.h"
#include "shell/startup.h"
#include "shell/status_texts.h"
#include "temp_folder.h"

namespace kopiensieb {
namespace {

using testing::NativePath;

using testing::ProgramTest;

const std::vector<int> kRuledControls{
    kSameContentButton,  kSameNameButton,     kResetButton,
    kGroupsBox,          kMembersBox,         kDeletePatternField,
    kDeleteMarkedButton, kDeleteOthersButton, kDeleteByPatternButton,
    kToDeleteButton};
const std::vector<int> kAlwaysOn{kAddFolderButton,   kFilesLabel,     kFilesView,
                                 kGroupsLabel,       kMembersLabel,   kScanPatternField,
                                 kSearchProgressBar, kFileProgressBar};

class EventLoopTest : public ProgramTest {
 protected:
  // One pass for an "other" message: rules only, no command.
  void IdlePass() {
    widgets.Idle(kMainWindow);
    EXPECT_TRUE(harness.RunNextPass());
  }

  // The controls of the rules table that are enabled, as a sorted list.
  std::vector<int> EnabledRuledControls() const {
    std::vector<int> enabled;
    for (const int control : kRuledControls) {
      if (widgets.IsEnabled(control)) {
        enabled.push_back(control);
      }
    }
    std::sort(enabled.begin(), enabled.end());
    return enabled;
  }

  void ExpectAlwaysOnControlsEnabled() const {
    for (const int control : kAlwaysOn) {
      EXPECT_TRUE(widgets.IsEnabled(control)) << "control " << control;
    }
  }

  void MakeTwoFilesAndAGroup() {
    FileRecord& a = harness.AddFile("/x", "a.txt", 10);
    FileRecord& b = harness.AddFile("/y", "a.txt", 10);
    harness.AddGroup({&a, &b});
  }
};

TEST_F(EventLoopTest, AvailabilityFollowsTheListsAsTheyFill) {
  IdlePass();  // right after start-up
  EXPECT_EQ(EnabledRuledControls(), std::vector<int>{});
  ExpectAlwaysOnControlsEnabled();
  FileRecord& a = harness.AddFile("/x", "a.txt", 10);
  IdlePass();
  EXPECT_EQ(EnabledRuledControls(),
            (std::vector<int>{kResetButton, kSameContentButton, kSameNameButton}));
  ExpectAlwaysOnControlsEnabled();
  harness.AddGroup({&a, &harness.AddFile("/y", "a.txt", 10)});
  IdlePass();
  EXPECT_EQ(EnabledRuledControls(),
            (std::vector<int>{kGroupsBox, kMembersBox, kResetButton, kSameContentButton,
                              kDeleteByPatternButton, kSameNameButton, kDeletePatternField}));
  ExpectAlwaysOnControlsEnabled();
  // The marking buttons follow MembersBox's rows.
  widgets.AddRow(kMembersBox, -1, "/x/a.txt");
  IdlePass();
  EXPECT_TRUE(widgets.IsEnabled(kDeleteMarkedButton));
  EXPECT_TRUE(widgets.IsEnabled(kDeleteOthersButton));
  widgets.RemoveAllRows(kMembersBox);
  IdlePass();
  EXPECT_FALSE(widgets.IsEnabled(kDeleteMarkedButton));
  EXPECT_FALSE(widgets.IsEnabled(kDeleteOthersButton));
}

TEST_F(EventLoopTest, GroupsWithoutCatalogueKeepGroupControlsOff) {
  // Only reachable by building lists by hand, but the rules are defined by both lists.
  FileRecord record;
  harness.AddGroup({&record, &record});
  IdlePass();
  EXPECT_EQ(EnabledRuledControls(), std::vector<int>{});
}

TEST_F(EventLoopTest, DeleteByPatternNeedsMoreThanSpacesInThePatternField) {
  MakeTwoFilesAndAGroup();
  IdlePass();
  harness.TypeAndRun(kDeletePatternField, "   ");
  EXPECT_FALSE(widgets.IsEnabled(kDeleteByPatternButton));
  harness.TypeAndRun(kDeletePatternField, "");
  EXPECT_FALSE(widgets.IsEnabled(kDeleteByPatternButton));
  harness.TypeAndRun(kDeletePatternField, "\t");
  EXPECT_TRUE(widgets.IsEnabled(kDeleteByPatternButton)) << "a tab counts as text";
  harness.TypeAndRun(kDeletePatternField, "  *.x  ");
  EXPECT_TRUE(widgets.IsEnabled(kDeleteByPatternButton));
}

TEST_F(EventLoopTest, ToDeleteButtonNeedsEntriesAndAClosedWindow) {
  FileRecord& file = harness.AddFile("/x", "a.txt", 1);
  IdlePass();
  EXPECT_FALSE(widgets.IsEnabled(kToDeleteButton));
  harness.AddToDelete(file);
  IdlePass();
  EXPECT_TRUE(widgets.IsEnabled(kToDeleteButton));
  harness.ClickAndRun(kToDeleteButton);
  ASSERT_TRUE(state.toDeleteWindowOpen);
  IdlePass();
  EXPECT_FALSE(widgets.IsEnabled(kToDeleteButton));
  harness.ClickAndRun(kCloseToDeleteButton);
  EXPECT_FALSE(state.toDeleteWindowOpen);
  IdlePass();
  EXPECT_TRUE(widgets.IsEnabled(kToDeleteButton));
}

TEST_F(EventLoopTest, RulesAreAppliedBeforeTheCommandOfTheSamePass) {
  testing::TempFolder folder;
  folder.WriteFile("a.txt", "x");
  harness.AddFolderAndRun(folder.Path());
  ASSERT_EQ(state.fileCatalogue.Count(), 1);
  // The scan filled the catalogue, but its pass applied the rules before the scan ran.
  EXPECT_FALSE(widgets.IsEnabled(kResetButton));
  IdlePass();
  EXPECT_TRUE(widgets.IsEnabled(kResetButton));
}

TEST_F(EventLoopTest, EveryPassRestoresTheWelcomeTexts) {
  IdlePass();
  EXPECT_EQ(widgets.StatusTexts(),
            (std::vector<std::string>{"Willkommen beim Kopiensieb", "Programmed by Tesmarin"}));
  harness.AddFile("/x", "a.txt", 1);
  IdlePass();
  harness.ClickAndRun(kResetButton);  // RefreshLists shows "Update Liste"
  EXPECT_EQ(widgets.StatusTexts()[0], "Update Liste");
  IdlePass();
  EXPECT_EQ(widgets.StatusTexts()[0], "Willkommen beim Kopiensieb");
  EXPECT_EQ(widgets.StatusWrites(), (std::vector<int>{3, 1}));
}

TEST_F(EventLoopTest, StatusFunctionsSkipTheTextWrittenLast) {
  SetActivityText(program, "eins");
  SetActivityText(program, "eins");
  SetDetailText(program, "");  // equals the empty start text: nothing written
  EXPECT_EQ(widgets.StatusWrites(), (std::vector<int>{1, 0}));
  SetDetailText(program, "3 Dateien");
  SetDetailText(program, "3 Dateien");
  SetDetailText(program, "4 Dateien");
  SetActivityText(program, "Eins");  // case counts
  EXPECT_EQ(widgets.StatusWrites(), (std::vector<int>{2, 2}));
  EXPECT_EQ(widgets.StatusTexts(), (std::vector<std::string>{"Eins", "4 Dateien"}));
  EXPECT_EQ(state.activityText, "Eins");
  EXPECT_EQ(state.detailText, "4 Dateien");
  // Compared with what the program wrote last, not with what the field shows.
  widgets.SetStatusText(kDetailField, "fremd");
  SetDetailText(program, "4 Dateien");
  EXPECT_EQ(widgets.StatusTexts()[1], "fremd");
}

TEST_F(EventLoopTest, PassStoresTheEventAndEndsOnlyOnACloseRequest) {
  widgets.Idle(kMainWindow);
  EXPECT_TRUE(harness.RunNextPass());
  EXPECT_EQ(state.currentEvent.kind, EventKind::Other);
  widgets.RequestClose(kToDeleteWindow);
  EXPECT_FALSE(harness.RunNextPass()) << "a close request for either window ends the loop";
  EXPECT_EQ(state.currentEvent.kind, EventKind::CloseRequest);
  EXPECT_EQ(state.currentEvent.window, kToDeleteWindow);
}

TEST_F(EventLoopTest, RunEventLoopRunsOnePassPerEventUntilTheCloseRequest) {
  widgets.Idle(kMainWindow);
  widgets.Idle(kMainWindow);
  widgets.RequestClose(kMainWindow);
  widgets.Idle(kMainWindow);
  RunEventLoop(program);
  EXPECT_EQ(widgets.EventsDelivered(), 3);
}

TEST_F(EventLoopTest, ControlsWithoutCommandsRunNothing) {
  harness.AddFile("/x", "a.txt", 1);
  IdlePass();
  const int writes = widgets.StatusWrites()[0];
  for (const int control : {kFilesLabel, kGroupsLabel, kMembersLabel, kSearchProgressBar,
                            kFileProgressBar, kScanPatternField}) {
    widgets.QueueEvent(Event{EventKind::Control, kMainWindow, control});
    EXPECT_TRUE(harness.RunNextPass());
  }
  harness.SelectAndRun(kFilesView, 0);
  // No command ran: no refresh wrote "Update Liste", and no chooser opened.
  EXPECT_EQ(widgets.StatusWrites()[0], writes);
  EXPECT_TRUE(widgets.Choosers().empty());
  EXPECT_EQ(state.fileCatalogue.Count(), 1);
}

TEST_F(EventLoopTest, ControlEventOfAnotherWindowRunsNoMainWindowCommand) {
  harness.AddFile("/x", "a.txt", 1);
  IdlePass();
  widgets.QueueEvent(Event{EventKind::Control, kToDeleteWindow, kResetButton});
  harness.RunNextPass();
  EXPECT_EQ(state.fileCatalogue.Count(), 1);
}

TEST_F(EventLoopTest, SelectingOrDoubleClickingAGroupFillsMembersBox) {
  MakeTwoFilesAndAGroup();
  RefreshLists(program, kRefreshGroups);
  IdlePass();
  harness.SelectAndRun(kGroupsBox, 0);
  EXPECT_EQ(harness.RowTexts(kMembersBox),
            (std::vector<std::string>{NativePath("/x/a.txt"), NativePath("/y/a.txt")}));
  widgets.RemoveAllRows(kMembersBox);
  ASSERT_TRUE(widgets.DoubleClick(kGroupsBox, 0));
  harness.RunNextPass();
  EXPECT_EQ(widgets.CountRows(kMembersBox), 2);
}

TEST_F(EventLoopTest, SearchButtonsRefreshTheGroupsBox) {
  testing::TempFolder folder;
  folder.WriteFile("one/a.txt", "same");
  folder.WriteFile("two/a.txt", "same");
  folder.WriteFile("two/b.txt", "different");
  harness.AddFolderAndRun(folder.Path());
  IdlePass();
  harness.ClickAndRun(kSameContentButton);
  EXPECT_EQ(harness.RowTexts(kGroupsBox), std::vector<std::string>{"2: a.txt, a.txt"});
  EXPECT_EQ(widgets.GetText(kGroupsLabel), "Dateien mit gleichem Inhalt (1 - 2)");
  harness.ClickAndRun(kSameNameButton);
  EXPECT_EQ(harness.RowTexts(kGroupsBox), std::vector<std::string>{"2: a.txt, a.txt"});
  EXPECT_EQ(state.duplicateGroupList.Count(), 1);
}

TEST_F(EventLoopTest, ResetEmptiesListsAndControlsButKeepsPatternsAndLastFolder) {
  testing::TempFolder folder;
  folder.WriteFile("a.txt", "x");
  folder.WriteFile("b/a.txt", "x");
  harness.TypeAndRun(kScanPatternField, "*.txt");
  harness.AddFolderAndRun(folder.Path());
  IdlePass();
  harness.ClickAndRun(kSameContentButton);
  IdlePass();
  harness.SelectAndRun(kGroupsBox, 0);
  ASSERT_EQ(widgets.CountRows(kMembersBox), 2);
  harness.TypeAndRun(kDeletePatternField, "*.x");

  harness.ClickAndRun(kResetButton);
  EXPECT_TRUE(state.fileCatalogue.Empty());
  EXPECT_TRUE(state.duplicateGroupList.Empty());
  EXPECT_TRUE(state.groupMemberList.Empty());
  EXPECT_TRUE(state.folderList.Empty());
  EXPECT_EQ(state.fileCatalogue.Current(), nullptr);
  EXPECT_EQ(widgets.CountRows(kFilesView), 0);
  EXPECT_EQ(widgets.CountRows(kGroupsBox), 0);
  EXPECT_EQ(widgets.CountRows(kMembersBox), 0);
  EXPECT_EQ(widgets.GetText(kFilesLabel), "Alle Dateien");
  EXPECT_EQ(widgets.GetText(kGroupsLabel), "Dateien mit gleichem Inhalt");
  EXPECT_EQ(state.lastFolder, folder.Path() + kNativePaths.separator);
  EXPECT_FALSE(state.patternList.Empty()) << "the patterns of the last scan stay";
  EXPECT_EQ(widgets.GetText(kScanPatternField), "*.txt");
  EXPECT_EQ(widgets.GetText(kDeletePatternField), "*.x");
  EXPECT_TRUE(widgets.MessageBoxes().empty());
  EXPECT_TRUE(folder.Exists("a.txt") && folder.Exists("b/a.txt")) << "nothing deleted on disk";

  IdlePass();
  EXPECT_EQ(EnabledRuledControls(), std::vector<int>{});
  // The folder can be added again, and the chooser starts where it was.
  harness.AddFolderAndRun(folder.Path());
  EXPECT_EQ(state.fileCatalogue.Count(), 2);
  EXPECT_EQ(widgets.Choosers().back().start, folder.Path() + kNativePaths.separator);
}

TEST(EventLoopResetTest, ResetEmptiesTheToDeleteListAndRebuildsAnOpenWindow) {
  for (const bool windowOpen : {true, false}) {
    SCOPED_TRACE(windowOpen ? "window open" : "window closed");
    testing::ProgramHarness harness;
    harness.AddToDelete(harness.AddFile("/x", "a.txt", 1));
    harness.AddToDelete(harness.AddFile("/x", "b.txt", 2));
    harness.widgets.Idle(kMainWindow);
    harness.RunNextPass();
    if (windowOpen) {
      harness.ClickAndRun(kToDeleteButton);
      ASSERT_TRUE(harness.State().toDeleteWindowOpen);
      ASSERT_EQ(harness.RowTexts(kToDeleteView), (std::vector<std::string>{"a.txt", "b.txt"}));
    }

    harness.ClickAndRun(kResetButton);
    EXPECT_TRUE(harness.State().toDeleteList.Empty());
    EXPECT_TRUE(harness.State().fileCatalogue.Empty());
    if (windowOpen) {
      EXPECT_EQ(harness.RowTexts(kToDeleteView),
                std::vector<std::string>{"(keine Dateien zum Löschen)"});
    } else {
      EXPECT_EQ(harness.widgets.Control(kToDeleteView), nullptr);
    }
    harness.widgets.Idle(kMainWindow);
    harness.RunNextPass();
    EXPECT_FALSE(harness.widgets.IsEnabled(kToDeleteButton));
  }
}

TEST_F(EventLoopTest, CloseRequestOfTheToDeleteWindowEndsTheProgramWithBothWindowsClosed) {
  // The whole run through RunProgram, on a harness-free widget layer.
  HeadlessWidgetServices freshWidgets;
  NativeFileServices files;
  testing::TempFolder folder;
  folder.WriteFile("a.txt", "same");
  folder.WriteFile("b.txt", "same");
  freshWidgets.QueueChooserAnswer(folder.Path());
  // Actions are queued one at a time, as a user would, once the previous pass is done; an
  // idle pass after each lets the availability rules enable the next control.
  const auto idle = [&] {
    freshWidgets.Idle(kMainWindow);
    return true;
  };
  const std::vector<std::function<bool()>> actions{
      [&] { return freshWidgets.Click(kAddFolderButton); },
      idle,
      [&] { return freshWidgets.Click(kSameContentButton); },
      idle,
      [&] { return freshWidgets.Select(kGroupsBox, {0}); },
      idle,
      [&] { return freshWidgets.Click(kDeleteOthersButton); },
      idle,
      [&] { return freshWidgets.Click(kToDeleteButton); },
      [&] {
        freshWidgets.RequestClose(kToDeleteWindow);
        return true;
      }};
  std::size_t step = 0;
  // Counted also when asked past the last action, which must not happen.
  freshWidgets.SetEventSource([&] { return step++ < actions.size() && actions[step - 1](); });
  EXPECT_EQ(RunProgram(freshWidgets, files), 0);
  EXPECT_EQ(step, actions.size()) << "every action was taken";
  EXPECT_TRUE(freshWidgets.OpenWindowNumbers().empty());
  ASSERT_FALSE(freshWidgets.MessageBoxes().empty());
  EXPECT_EQ(freshWidgets.MessageBoxes().back().title, "Credits");
  EXPECT_TRUE(folder.Exists("a.txt") && folder.Exists("b.txt"));
}

}  // namespace
}  // namespace kopiensieb
