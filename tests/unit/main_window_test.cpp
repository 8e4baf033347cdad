#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "main_window_table.h"
#include "platform/native_file_services.h"
#include "program_fixture.h"
#include "shell/control_numbers.h"
#include "shell/main_window.h"
#include "shell/startup.h"

namespace kopiensieb {
namespace {

using testing::ExpectedControl;
using testing::MainWindowControls;
using testing::ProgramTest;

TEST_F(ProgramTest, MainWindowHasTitleSizeTwoStatusFieldsAndTheFileColumns) {
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
  EXPECT_EQ(harness.Columns(kFilesView),
            (std::vector<std::pair<std::string, int>>{{"Name", 150}, {"Größe", 100}}));
  EXPECT_FALSE(harness.Control(kFilesView).options.multipleSelection);
}

TEST_F(ProgramTest, MainWindowControlsInCreationOrderWithKindTextAndGeometry) {
  const HeadlessWindow* window = widgets.Window(kMainWindow);
  ASSERT_NE(window, nullptr);
  std::vector<int> expectedOrder;
  for (const ExpectedControl& expected : MainWindowControls()) {
    expectedOrder.push_back(expected.number);
  }
  EXPECT_EQ(window->controls, expectedOrder);

  for (const ExpectedControl& expected : MainWindowControls()) {
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

TEST_F(ProgramTest, NoTwoControlsOverlapAndAllStayAboveTheStatusBar) {
  const auto& controls = MainWindowControls();
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
class FailingWidgets final : public HeadlessWidgetServices {
 public:
  enum class Step { Window, Container, StatusBar };
  explicit FailingWidgets(Step failing) : failing_(failing) {}

  bool OpenWindow(const WindowLayout& layout) override {
    return failing_ != Step::Window && HeadlessWidgetServices::OpenWindow(layout);
  }
  bool ChooseContainer(int window) override {
    return failing_ != Step::Container && HeadlessWidgetServices::ChooseContainer(window);
  }
  bool CreateStatusBar(int window, const std::vector<int>& widths) override {
    return failing_ != Step::StatusBar && HeadlessWidgetServices::CreateStatusBar(window, widths);
  }

 private:
  Step failing_;
};

TEST(StartupTest, AFailedWindowEndsSilentlyWithoutCredits) {
  for (const auto step : {FailingWidgets::Step::Window, FailingWidgets::Step::Container,
                          FailingWidgets::Step::StatusBar}) {
    FailingWidgets widgets(step);
    NativeFileServices files;
    widgets.Idle(kMainWindow);
    EXPECT_EQ(RunProgram(widgets, files), 0);
    EXPECT_TRUE(widgets.MessageBoxes().empty());
    EXPECT_EQ(widgets.EventsDelivered(), 0) << "the loop must not run";
    EXPECT_TRUE(widgets.OpenWindowNumbers().empty());
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
