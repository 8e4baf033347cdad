#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/native_file_services.h"
#include "program_fixture.h"
#include "shell/control_numbers.h"
#include "shell/main_window.h"
#include "shell/startup.h"

namespace kopiensieb {
namespace {

using testing::ProgramTest;

struct ExpectedControl {
  int number;
  ControlKind kind;
  std::string text;
  Geometry geometry;
};

// The main window as the user sees it, in creation (and focus) order.
const std::vector<ExpectedControl>& ExpectedControls() {
  static const std::vector<ExpectedControl> controls{
      {0, ControlKind::Button, "Pfad hinzufügen", {5, 5, 95, 20}},
      {12, ControlKind::Field, "*.*", {105, 5, 95, 20}},
      {1, ControlKind::Label, "Alle Dateien:", {5, 30, 195, 16}},
      {2, ControlKind::ListView, "", {5, 46, 195, 384}},
      {8, ControlKind::Button, "Zurücksetzen", {5, 435, 195, 20}},
      {9, ControlKind::Button, "Doppelte Dateien suchen", {205, 5, 197, 20}},
      {13, ControlKind::Button, "Gleichnamige Dateien suchen", {407, 5, 197, 20}},
      {3, ControlKind::Label, "Dateien mit gleichem Inhalt:", {205, 30, 400, 16}},
      {4, ControlKind::ListBox, "", {205, 46, 400, 259}},
      {5, ControlKind::Label, "Doppelte Dateien:", {205, 310, 430, 16}},
      {6, ControlKind::ListBox, "", {205, 326, 430, 79}},
      {7, ControlKind::Button, "Lösche markierte Datei", {205, 410, 212, 20}},
      {10, ControlKind::Button, "Lösche alle außer markierter", {205, 435, 212, 20}},
      {11, ControlKind::Button, "Lösche Dateien mit spez. Endung", {422, 410, 212, 20}},
      {14, ControlKind::Field, "*.bak *.tmp", {422, 435, 212, 20}},
      {100, ControlKind::Progress, "", {610, 80, 25, 225}},
      {101, ControlKind::Progress, "", {610, 50, 25, 25}},
      {15, ControlKind::Button, "TDL", {610, 5, 25, 20}},
  };
  return controls;
}

TEST_F(ProgramTest, MainWindowHasTitleSizeAndTwoStatusFields) {
  const HeadlessWindow* window = widgets.Window(kMainWindow);
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(window->layout.title, "Kopiensieb");
  EXPECT_EQ(window->layout.clientWidth, 640);
  EXPECT_EQ(window->layout.clientHeight, 480);
  EXPECT_EQ(window->layout.placement, WindowPlacement::CentredOnScreen);
  EXPECT_TRUE(window->layout.hasCloseBox);
  EXPECT_TRUE(window->hasStatusBar);
  EXPECT_EQ(window->statusFieldWidths, (std::vector<int>{200, 440}));
  // Nothing is written to the status bar before the first pass.
  EXPECT_EQ(widgets.StatusWrites(), (std::vector<int>{0, 0}));
  EXPECT_EQ(widgets.OpenWindowNumbers(), std::vector<int>{kMainWindow});
}

TEST_F(ProgramTest, MainWindowControlsInCreationOrderWithKindTextAndGeometry) {
  const HeadlessWindow* window = widgets.Window(kMainWindow);
  ASSERT_NE(window, nullptr);
  std::vector<int> expectedOrder;
  for (const ExpectedControl& expected : ExpectedControls()) {
    expectedOrder.push_back(expected.number);
  }
  EXPECT_EQ(window->controls, expectedOrder);

  for (const ExpectedControl& expected : ExpectedControls()) {
    SCOPED_TRACE("control " + std::to_string(expected.number));
    const HeadlessControl& control = harness.Control(expected.number);
    EXPECT_EQ(control.kind, expected.kind);
    EXPECT_EQ(control.text, expected.text);
    EXPECT_EQ(control.geometry, expected.geometry);
    EXPECT_TRUE(control.rows.empty());
    EXPECT_EQ(control.progress, 0);
    EXPECT_EQ(control.options.lowerCase, expected.number == kDeletePatternField);
  }
}

TEST_F(ProgramTest, FilesViewHasNameAndSizeColumns) {
  const HeadlessControl& view = harness.Control(kFilesView);
  ASSERT_EQ(view.columns.size(), 2u);
  EXPECT_EQ(view.columns[0].title, "Name");
  EXPECT_EQ(view.columns[0].width, 150);
  EXPECT_EQ(view.columns[1].title, "Größe");
  EXPECT_EQ(view.columns[1].width, 100);
  EXPECT_FALSE(view.options.multipleSelection);
}

TEST_F(ProgramTest, NoTwoControlsOverlapAndAllStayAboveTheStatusBar) {
  const auto& controls = ExpectedControls();
  for (std::size_t a = 0; a < controls.size(); ++a) {
    const Geometry ga = harness.Control(controls[a].number).geometry;
    EXPECT_LE(ga.y + ga.height, 460) << "control " << controls[a].number;
    EXPECT_LE(ga.x + ga.width, 640) << "control " << controls[a].number;
    for (std::size_t b = a + 1; b < controls.size(); ++b) {
      const Geometry gb = harness.Control(controls[b].number).geometry;
      const bool apart = ga.x + ga.width <= gb.x || gb.x + gb.width <= ga.x ||
                         ga.y + ga.height <= gb.y || gb.y + gb.height <= ga.y;
      EXPECT_TRUE(apart) << controls[a].number << " overlaps " << controls[b].number;
    }
  }
}

TEST_F(ProgramTest, CapitalsTypedIntoDeletePatternFieldBecomeSmall) {
  state.fileCatalogue.Add().name = "a";  // the field is on only with groups
  harness.AddGroup({state.fileCatalogue.Current(), state.fileCatalogue.Current()});
  widgets.Idle(kMainWindow);
  harness.RunNextPass();  // applies the availability rules
  harness.TypeAndRun(kScanPatternField, "*.TXT");
  harness.TypeAndRun(kDeletePatternField, "*.BAK");
  EXPECT_EQ(widgets.GetText(kScanPatternField), "*.TXT");
  EXPECT_EQ(widgets.GetText(kDeletePatternField), "*.bak");
}

// The in-memory widgets, except that opening the window, choosing its container or making its
// status bar fails at a chosen step.
class FailingWidgets final : public WidgetServices {
 public:
  enum class Step { Window, Container, StatusBar };
  explicit FailingWidgets(Step failing) : failing_(failing) {}
  HeadlessWidgetServices inner;

  bool OpenWindow(const WindowLayout& layout) override {
    return failing_ != Step::Window && inner.OpenWindow(layout);
  }
  bool ChooseContainer(int window) override {
    return failing_ != Step::Container && inner.ChooseContainer(window);
  }
  bool CreateStatusBar(int window, const std::vector<int>& widths) override {
    return failing_ != Step::StatusBar && inner.CreateStatusBar(window, widths);
  }
  void CloseWindow(int window) override { inner.CloseWindow(window); }
  void CreateControl(int control, ControlKind kind, Geometry geometry, const std::string& text,
                     const ControlOptions& options) override {
    inner.CreateControl(control, kind, geometry, text, options);
  }
  void AddColumn(int control, int index, const std::string& title, int width) override {
    inner.AddColumn(control, index, title, width);
  }
  void SetEnabled(int control, bool enabled) override { inner.SetEnabled(control, enabled); }
  bool IsEnabled(int control) const override { return inner.IsEnabled(control); }
  void SetText(int control, const std::string& text) override { inner.SetText(control, text); }
  std::string GetText(int control) const override { return inner.GetText(control); }
  void AddRow(int control, int index, const std::string& text) override {
    inner.AddRow(control, index, text);
  }
  void SetRowText(int control, int row, int column, const std::string& text) override {
    inner.SetRowText(control, row, column, text);
  }
  void RemoveRow(int control, int row) override { inner.RemoveRow(control, row); }
  void RemoveRows(int control, const std::vector<int>& rows) override {
    inner.RemoveRows(control, rows);
  }
  void RemoveAllRows(int control) override { inner.RemoveAllRows(control); }
  int CountRows(int control) const override { return inner.CountRows(control); }
  int SelectedRow(int control) const override { return inner.SelectedRow(control); }
  void SelectRow(int control, int row) override { inner.SelectRow(control, row); }
  bool IsRowSelected(int control, int row) const override {
    return inner.IsRowSelected(control, row);
  }
  void SetRowSelected(int control, int row, bool selected, bool focused) override {
    inner.SetRowSelected(control, row, selected, focused);
  }
  void SetProgress(int control, int value) override { inner.SetProgress(control, value); }
  void SetStatusText(int field, const std::string& text) override {
    inner.SetStatusText(field, text);
  }
  void ShowMessageBox(const std::string& title, const std::string& text,
                      MessageIcon icon) override {
    inner.ShowMessageBox(title, text, icon);
  }
  std::string ChooseFolder(const std::string& title, const std::string& start) override {
    return inner.ChooseFolder(title, start);
  }
  Event WaitForEvent() override { return inner.WaitForEvent(); }

 private:
  Step failing_;
};

TEST(StartupTest, AFailedWindowEndsSilentlyWithoutCredits) {
  for (const auto step : {FailingWidgets::Step::Window, FailingWidgets::Step::Container,
                          FailingWidgets::Step::StatusBar}) {
    FailingWidgets widgets(step);
    NativeFileServices files;
    widgets.inner.Idle(kMainWindow);
    EXPECT_EQ(RunProgram(widgets, files), 0);
    EXPECT_TRUE(widgets.inner.MessageBoxes().empty());
    EXPECT_EQ(widgets.inner.EventsDelivered(), 0) << "the loop must not run";
    EXPECT_TRUE(widgets.inner.OpenWindowNumbers().empty());
    Program program(widgets, files);
    EXPECT_FALSE(BuildMainWindow(program));
  }
}

TEST(StartupTest, CloseRightAfterStartShowsCreditsAndClosesTheWindow) {
  HeadlessWidgetServices widgets;
  NativeFileServices files;
  widgets.Idle(kMainWindow);
  widgets.RequestClose(kMainWindow);
  widgets.Idle(kMainWindow);  // after the close request: never taken
  EXPECT_EQ(RunProgram(widgets, files), 0);
  EXPECT_EQ(widgets.EventsDelivered(), 2);
  EXPECT_TRUE(widgets.OpenWindowNumbers().empty());
  ASSERT_EQ(widgets.MessageBoxes().size(), 1u);
  EXPECT_EQ(widgets.MessageBoxes()[0].title, "Credits");
  EXPECT_EQ(widgets.MessageBoxes()[0].text, "Kopiensieb\rProgrammed by Tesmarin");
  EXPECT_EQ(widgets.MessageBoxes()[0].icon, MessageIcon::None);
  EXPECT_EQ(widgets.StatusTexts(),
            (std::vector<std::string>{"Willkommen beim Kopiensieb", "Programmed by Tesmarin"}));
  // The second pass wrote nothing new.
  EXPECT_EQ(widgets.StatusWrites(), (std::vector<int>{1, 1}));
}

}  // namespace
}  // namespace kopiensieb
