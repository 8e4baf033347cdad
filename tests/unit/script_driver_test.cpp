#include "platform/headless/script_driver.h"

#include "platform/headless/json_dump.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "native_path.h"

#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace kopiensieb {
namespace {

using testing::NativePath;

using nlohmann::json;

// --- parsing

template <typename T>
T As(const ScriptLine& line) {
  EXPECT_TRUE(std::holds_alternative<T>(line)) << "variant index " << line.index();
  return std::holds_alternative<T>(line) ? std::get<T>(line) : T{};
}

TEST(ScriptLineTest, ReadsEveryCommandWithItsArguments) {
  EXPECT_EQ(As<script::Click>(ParseScriptLine("click 13")).control, 13);
  EXPECT_EQ(As<script::Click>(ParseScriptLine("  click\t7  \r")).control, 7);

  const auto typed = As<script::Type>(ParseScriptLine(R"(type 14 "A b\t\u00e4")"));
  EXPECT_EQ(typed.control, 14);
  EXPECT_EQ(typed.text, "A b\t\xC3\xA4");
  EXPECT_EQ(As<script::Type>(ParseScriptLine(R"(type 12 "")")).text, "");

  const auto selected = As<script::Select>(ParseScriptLine("select 201 0 2 5"));
  EXPECT_EQ(selected.control, 201);
  EXPECT_EQ(selected.rows, (std::vector<int>{0, 2, 5}));
  EXPECT_EQ(As<script::Select>(ParseScriptLine("select 4 -1")).rows, (std::vector<int>{-1}));

  const auto doubled = As<script::DoubleClick>(ParseScriptLine("doubleclick 4 3"));
  EXPECT_EQ(doubled.control, 4);
  EXPECT_EQ(doubled.row, 3);

  EXPECT_EQ(As<script::Idle>(ParseScriptLine("idle 1")).window, 1);
  EXPECT_EQ(As<script::Close>(ParseScriptLine("close 0")).window, 0);
  EXPECT_EQ(As<script::Chooser>(ParseScriptLine(R"(chooser "/tmp/a b/")")).folder, "/tmp/a b/");
  EXPECT_EQ(As<script::Chooser>(ParseScriptLine("chooser-cancel")).folder, "");
  As<script::Dump>(ParseScriptLine("dump"));
}

TEST(ScriptLineTest, SkipsBlankLinesAndCommentsAndRefusesLinesThatDoNotFitTheirCommand) {
  for (const char* line : {"", "   \t\r", "# click 0", "  #dump"}) {
    EXPECT_TRUE(std::holds_alternative<script::Skip>(ParseScriptLine(line))) << line;
  }
  for (const char* line : {
           "click",               // number missing
           "click x",             // not a number
           "click 1 2",           // one number too many
           "click 3.5",           // not an integer
           "click 99999999999",   // beyond int
           "type 12 abc",         // text not a JSON string
           "type 12",             // text missing
           R"(type "x" "y")",     // control not a number
           R"(type 12 "a" "b")",  // trailing words
           R"(type 12 "open)",    // unterminated string
           "select 4",            // no row
           "select 4 a",          // row not a number
           "doubleclick 4",       // row missing
           "doubleclick 4 1 2",   // one row only
           "chooser /tmp/x",      // not quoted
           "chooser 12",          // a number is no path
           "chooser",             // nothing
           "chooser-cancel now",  // takes no argument
           "dump all",            // takes no argument
           "idle",                // window missing
           "close zero",          // not a number
           "frobnicate 1",        // unknown
           "Click 0",             // keywords are lower case
       }) {
    EXPECT_TRUE(std::holds_alternative<script::Malformed>(ParseScriptLine(line))) << line;
  }
}

// --- driving a program

// A small program on the headless widgets: a main window with one control of each kind, a
// disabled button 9, and a loop that records every event until a close request. A click on
// button 0 opens a folder chooser and records its answer; a click on button 8 fills the
// lists, shows a message box and opens and closes window 1.
struct FakeProgram {
  std::vector<Event> events;
  std::vector<std::string> chooserAnswers;
  std::vector<std::streamoff> scriptPositionAtEvent;
  std::istream* script = nullptr;

  int operator()(HeadlessWidgetServices& widgets) {
    widgets.OpenWindow(WindowLayout{0, 640, 480, "Test\xFF"});
    widgets.ChooseContainer(0);
    widgets.CreateStatusBar(0, {200, 440});
    widgets.CreateControl(0, ControlKind::Button, {5, 5, 95, 20}, "Knopf", {});
    widgets.CreateControl(14, ControlKind::Field, {1, 2, 3, 4}, "x", ControlOptions{true});
    widgets.CreateControl(2, ControlKind::ListView, {5, 46, 195, 384}, "", {});
    widgets.AddColumn(2, 0, "Name", 150);
    widgets.AddColumn(2, 1, "Größe", 100);
    widgets.CreateControl(4, ControlKind::ListBox, {205, 46, 400, 259}, "", {});
    widgets.CreateControl(100, ControlKind::Progress, {610, 80, 25, 225}, "", {});
    widgets.CreateControl(1, ControlKind::Label, {5, 30, 195, 16}, "Alle Dateien:", {});
    widgets.CreateControl(9, ControlKind::Button, {205, 5, 197, 20}, "Aus", {});
    widgets.CreateControl(8, ControlKind::Button, {5, 435, 195, 20}, "Füllen", {});
    widgets.SetEnabled(9, false);
    while (true) {
      const Event event = widgets.WaitForEvent();
      events.push_back(event);
      if (script != nullptr) {
        scriptPositionAtEvent.push_back(script->tellg());
      }
      if (event.kind == EventKind::CloseRequest) {
        break;
      }
      if (event.kind == EventKind::Control && event.control == 0) {
        chooserAnswers.push_back(widgets.ChooseFolder("Pfad hinzufügen...", "/start/"));
      }
      if (event.kind == EventKind::Control && event.control == 8) {
        Fill(widgets);
      }
    }
    widgets.CloseWindow(0);
    widgets.ShowMessageBox("Credits", "bye", MessageIcon::None);
    return 0;
  }

  static void Fill(HeadlessWidgetServices& widgets) {
    widgets.AddRow(2, 0, "a\xFF.txt");
    widgets.SetRowText(2, 0, 1, "12 Bytes");
    widgets.AddRow(2, 1, "b.txt");  // column 1 never written
    widgets.AddRow(4, -1, "2: a, b");
    widgets.AddRow(4, -1, "3: c, d, e");
    widgets.SelectRow(4, 1);
    widgets.SetRowSelected(2, 1, true, true);
    widgets.SetProgress(100, 42);
    widgets.SetStatusText(0, "Lese\xC3");
    widgets.ShowMessageBox("ERROR", "kaputt", MessageIcon::Error);
    widgets.OpenWindow(WindowLayout{1, 300, 200, "Zweites"});
    widgets.CloseWindow(1);
  }
};

struct Outcome {
  int exitCode = -1;
  std::vector<json> lines;
  std::string errors;
};

Outcome RunDriven(const std::string& text, FakeProgram& program) {
  std::istringstream script(text);
  std::ostringstream out;
  std::ostringstream errors;
  program.script = &script;
  Outcome outcome;
  outcome.exitCode = RunScript(script, out, errors, std::ref(program));
  std::istringstream printed(out.str());
  std::string line;
  while (std::getline(printed, line)) {
    outcome.lines.push_back(json::parse(line));
  }
  outcome.errors = errors.str();
  return outcome;
}

const json* FindControl(const json& state, int number) {
  for (const json& window : state.at("windows")) {
    for (const json& control : window.at("controls")) {
      if (control.at("number") == number) {
        return &control;
      }
    }
  }
  return nullptr;
}

// The events the program took, each as "control WINDOW:CONTROL", "other WINDOW" or
// "close WINDOW".
std::vector<std::string> Described(const std::vector<Event>& events) {
  static const char* const kKinds[] = {"none ", "control ", "close ", "other "};
  std::vector<std::string> texts;
  for (const Event& event : events) {
    texts.push_back(kKinds[static_cast<int>(event.kind)] + std::to_string(event.window) +
                    (event.kind == EventKind::Control ? ":" + std::to_string(event.control) : ""));
  }
  return texts;
}

TEST(ScriptDriverTest, DeliversOneMessagePerActionAndNoneForDeadControls) {
  FakeProgram program;
  const Outcome outcome = RunDriven(
      "click 0\n"
      "click 9\n"           // disabled: no message
      "click 55\n"          // no such control
      "type 1 \"x\"\n"      // a label is no text field
      "select 0 1\n"        // a button is no list
      "type 14 \"ÄB c\"\n"  // the field lower-cases what is typed
      "select 4 1\n"
      "doubleclick 2 0\n"
      "idle 0\n"
      "close 1\n",
      program);
  EXPECT_EQ(Described(program.events),
            (std::vector<std::string>{"control 0:0", "control 0:14", "control 0:4", "control 0:2",
                                      "other 0", "close 1"}));
  ASSERT_EQ(outcome.lines.size(), 1u);
  const json& final = outcome.lines.back();
  EXPECT_EQ(final.at("passes"), 6);
  EXPECT_EQ(final.at("ended"), true);
  EXPECT_EQ(final.at("exit_code"), 0);
  EXPECT_EQ(outcome.exitCode, 0);
  EXPECT_EQ(outcome.errors, "");
}

TEST(ScriptDriverTest, CountsCompletedPassesInEveryDump) {
  FakeProgram program;
  const Outcome outcome = RunDriven(
      "dump\n"
      "click 0\n"
      "dump\n"
      "click 9\n"
      "dump\n"
      "idle 0\n"
      "idle 0\n"
      "dump\n"
      "type 14 \"ABC\"\n"
      "dump\n",
      program);
  ASSERT_EQ(outcome.lines.size(), 6u);
  std::vector<int> passes;
  for (const json& line : outcome.lines) {
    passes.push_back(line.at("passes").get<int>());
  }
  // The script's end closes window 0: one more pass.
  EXPECT_EQ(passes, (std::vector<int>{0, 1, 1, 3, 4, 5}));
  for (std::size_t i = 0; i + 1 < outcome.lines.size(); ++i) {
    EXPECT_EQ(outcome.lines[i].at("ended"), false);
    EXPECT_FALSE(outcome.lines[i].contains("exit_code"));
  }
  const json* field = FindControl(outcome.lines[4], 14);
  ASSERT_NE(field, nullptr);
  EXPECT_EQ(field->at("text"), "abc");
  EXPECT_EQ(
      Described(program.events),
      (std::vector<std::string>{"control 0:0", "other 0", "other 0", "control 0:14", "close 0"}));
}

TEST(ScriptDriverTest, ReadsNoLineBeforeTheProgramWaits) {
  FakeProgram program;
  const std::string first = "click 0\n";
  const std::string second = "# comment\n\nidle 0\n";
  RunDriven(first + second + "close 0\n", program);
  ASSERT_EQ(program.scriptPositionAtEvent.size(), 3u);
  EXPECT_EQ(program.scriptPositionAtEvent[0], static_cast<std::streamoff>(first.size()));
  EXPECT_EQ(program.scriptPositionAtEvent[1],
            static_cast<std::streamoff>(first.size() + second.size()));
}

TEST(ScriptDriverTest, IgnoresLinesAfterTheProgramEnded) {
  FakeProgram program;
  const Outcome outcome = RunDriven("close 0\nclick 0\ndump\nclose 0\n", program);
  EXPECT_EQ(Described(program.events), std::vector<std::string>{"close 0"});
  ASSERT_EQ(outcome.lines.size(), 1u);
  EXPECT_EQ(outcome.lines[0].at("ended"), true);
  EXPECT_EQ(outcome.lines[0].at("passes"), 1);
}

TEST(ScriptDriverTest, ReportsMalformedLinesAndCarriesOn) {
  FakeProgram program;
  const Outcome outcome = RunDriven("click\ntype 14 nope\nclick 0\nwhatever\nidle 0\n", program);
  EXPECT_NE(outcome.errors.find("line 1"), std::string::npos) << outcome.errors;
  EXPECT_NE(outcome.errors.find("line 2"), std::string::npos) << outcome.errors;
  EXPECT_NE(outcome.errors.find("line 4"), std::string::npos) << outcome.errors;
  EXPECT_EQ(outcome.errors.find("line 3"), std::string::npos) << outcome.errors;
  EXPECT_EQ(Described(program.events),
            (std::vector<std::string>{"control 0:0", "other 0", "close 0"}));
  EXPECT_EQ(outcome.exitCode, 0);
}

TEST(ScriptDriverTest, AnswersFolderChoosersInOrder) {
  FakeProgram program;
  // A separator of the platform is added where it is missing.
  const Outcome outcome = RunDriven("chooser " + json(NativePath("/tmp/a")).dump() + "\n" +
                                        "chooser " + json(NativePath("/tmp/b/")).dump() + "\n" +
                                        "click 0\n"
                                        "click 0\n"
                                        "chooser-cancel\n"
                                        "click 0\n"
                                        "click 0\n",  // nothing queued: cancelled
                                    program);
  EXPECT_EQ(program.chooserAnswers,
            (std::vector<std::string>{NativePath("/tmp/a/"), NativePath("/tmp/b/"), "", ""}));
  const json& choosers = outcome.lines.back().at("choosers");
  ASSERT_EQ(choosers.size(), 4u);
  EXPECT_EQ(choosers[0], (json{{"title", "Pfad hinzufügen..."}, {"start", "/start/"}}));
}

TEST(ScriptDriverTest, DumpsEveryKindOfControlWithItsOwnKeys) {
  FakeProgram program;
  const Outcome outcome = RunDriven("click 8\ndump\n", program);
  ASSERT_EQ(outcome.lines.size(), 2u);
  const json& state = outcome.lines[0];

  ASSERT_EQ(state.at("windows").size(), 1u);  // window 1 was closed again
  const json& window = state.at("windows")[0];
  EXPECT_EQ(window.at("number"), 0);
  EXPECT_EQ(window.at("title"), "Test\xEF\xBF\xBD");
  EXPECT_EQ(window.at("width"), 640);
  EXPECT_EQ(window.at("height"), 480);
  std::vector<int> order;
  for (const json& control : window.at("controls")) {
    order.push_back(control.at("number").get<int>());
  }
  EXPECT_EQ(order, (std::vector<int>{0, 14, 2, 4, 100, 1, 9, 8}));

  EXPECT_EQ(*FindControl(state, 0), (json{{"number", 0},
                                          {"kind", "button"},
                                          {"text", "Knopf"},
                                          {"enabled", true},
                                          {"x", 5},
                                          {"y", 5},
                                          {"w", 95},
                                          {"h", 20}}));
  EXPECT_EQ(FindControl(state, 9)->at("enabled"), false);
  EXPECT_EQ(FindControl(state, 14)->at("kind"), "field");
  EXPECT_EQ(FindControl(state, 1)->at("kind"), "label");
  EXPECT_EQ(FindControl(state, 1)->at("text"), "Alle Dateien:");

  const json& view = *FindControl(state, 2);
  EXPECT_EQ(view.at("kind"), "listview");
  EXPECT_EQ(view.at("columns"), json::parse(R"([["Name",150],["Größe",100]])"));
  EXPECT_EQ(view.at("rows"), json::parse(R"([["a\ufffd.txt","12 Bytes"],["b.txt",""]])"));
  EXPECT_EQ(view.at("selected"), json::parse("[1]"));
  EXPECT_FALSE(view.contains("text"));

  const json& box = *FindControl(state, 4);
  EXPECT_EQ(box.at("kind"), "listbox");
  EXPECT_EQ(box.at("rows"), json::parse(R"(["2: a, b","3: c, d, e"])"));
  EXPECT_EQ(box.at("selected"), 1);

  const json& bar = *FindControl(state, 100);
  EXPECT_EQ(bar.at("kind"), "progress");
  EXPECT_EQ(bar.at("value"), 42);

  EXPECT_EQ(state.at("status").at("texts"), json::parse(R"(["Lese\ufffd",""])"));
  EXPECT_EQ(state.at("status").at("writes"), json::parse("[1,0]"));
  EXPECT_EQ(state.at("messageboxes"),
            json::parse(R"([{"title":"ERROR","text":"kaputt","icon":"error"}])"));

  const json& final = outcome.lines[1];
  EXPECT_TRUE(final.at("windows").empty());
  ASSERT_EQ(final.at("messageboxes").size(), 2u);
  EXPECT_EQ(final.at("messageboxes")[1].at("title"), "Credits");
  EXPECT_EQ(final.at("messageboxes")[1].at("icon"), "none");
}

TEST(ScriptDriverTest, DumpsLongListsWhole) {
  HeadlessWidgetServices widgets;
  widgets.OpenWindow(WindowLayout{0, 640, 480, "Kopiensieb"});
  widgets.ChooseContainer(0);
  widgets.CreateControl(2, ControlKind::ListView, {0, 0, 10, 10}, "", {});
  widgets.AddColumn(2, 0, "Name", 150);
  widgets.AddColumn(2, 1, "Größe", 100);
  constexpr int kRows = 20000;
  for (int row = 0; row < kRows; ++row) {
    widgets.AddRow(2, row, "f" + std::to_string(row));
    widgets.SetRowText(2, row, 1, std::to_string(row) + " Bytes");
  }
  const json state = json::parse(JsonLine(DumpState(widgets, 0, false)));
  const json& rows = state.at("windows")[0].at("controls")[0].at("rows");
  ASSERT_EQ(rows.size(), static_cast<std::size_t>(kRows));
  EXPECT_EQ(rows[12345], (json{"f12345", "12345 Bytes"}));
  EXPECT_EQ(rows[kRows - 1][0], "f" + std::to_string(kRows - 1));
}

}  // namespace
}  // namespace kopiensieb
