#include "widget_differential.h"

#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "common/text.h"
#include "platform/headless/headless_widgets.h"
#include "platform/headless/json_dump.h"
#include "platform/headless/shown_state.h"

namespace kopiensieb::testing {

namespace {

constexpr int kMostRows = 12;

// The controls every sequence works on.
constexpr int kButton = 1;
constexpr int kField = 2;
constexpr int kLabel = 3;
constexpr int kSingleView = 4;
constexpr int kMultiView = 5;
constexpr int kListBox = 6;
constexpr int kProgress = 7;
constexpr int kLists[] = {kSingleView, kMultiView, kListBox};
constexpr int kAll[] = {kButton, kField, kLabel, kSingleView, kMultiView, kListBox, kProgress};

// Names as they come from disks: umlauts, line breaks, tabs, bytes that are not UTF-8.
const std::vector<std::string>& TextPool() {
  static const std::vector<std::string> pool{"",
                                             "a.txt",
                                             "Übersicht.bin",
                                             "/x/sub/a-kopie.bin",
                                             "zwei\nzeilen",
                                             "tab\there",
                                             "Ende\r",
                                             "kaputt\xFF",
                                             "\xC3",
                                             "Gr\xF6\xDF"
                                             "e",
                                             "1536 Bytes",
                                             "(keine Dateien zum Löschen)",
                                             "\x7F",
                                             "3: a.txt, a.bak, a.txt"};
  return pool;
}

void Build(WidgetServices& widgets) {
  widgets.OpenWindow(
      WindowLayout{0, 640, 480, "Kopiensieb", WindowPlacement::CentredOnScreen, true});
  widgets.ChooseContainer(0);
  const ControlOptions plain;
  ControlOptions lowerCase;
  lowerCase.lowerCase = true;
  ControlOptions multiple;
  multiple.multipleSelection = true;
  multiple.fullRowSelection = true;
  widgets.CreateControl(kButton, ControlKind::Button, {5, 5, 95, 20}, "Pfad hinzufügen", plain);
  widgets.CreateControl(kField, ControlKind::Field, {105, 5, 95, 20}, "*.*", lowerCase);
  widgets.CreateControl(kLabel, ControlKind::Label, {5, 30, 195, 16}, "Alle Dateien:", plain);
  widgets.CreateControl(kSingleView, ControlKind::ListView, {5, 46, 195, 200}, "Name", plain);
  widgets.AddColumn(kSingleView, 0, "Name", 150);
  widgets.AddColumn(kSingleView, 1, "Größe", 100);
  widgets.CreateControl(kMultiView, ControlKind::ListView, {5, 250, 400, 200}, "Name", multiple);
  widgets.AddColumn(kMultiView, 0, "Name", 150);
  widgets.AddColumn(kMultiView, 1, "Pfad", 200);
  widgets.AddColumn(kMultiView, 2, "Größe", 100);
  widgets.CreateControl(kListBox, ControlKind::ListBox, {205, 46, 400, 150}, "", plain);
  widgets.CreateControl(kProgress, ControlKind::Progress, {610, 80, 25, 225}, "", plain);
}

std::string Quoted(const std::string& text) {
  std::string quoted = "\"";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte >= 0x7F) {
      static const char* const kHex = "0123456789ABCDEF";
      quoted += std::string("\\x") + kHex[byte >> 4] + kHex[byte & 15];
    } else {
      quoted += c;
    }
  }
  return quoted + "\"";
}

// One random call, made the same way on both backends; returns its description for the log.
class CallMaker {
 public:
  explicit CallMaker(unsigned seed) : random_(seed) {}

  std::string Next(HeadlessWidgetServices& memory, WidgetServices& real) {
    const int list = kLists[Pick(3)];
    const int rows = memory.CountRows(list);
    std::ostringstream call;
    const auto both = [&](const std::function<void(WidgetServices&)>& apply) {
      apply(memory);
      apply(real);
    };
    switch (Pick(12)) {
      case 0:
      case 1: {
        if (rows >= kMostRows) {
          return Next(memory, real);
        }
        const int index = Pick(4) == 0 ? -1 : Pick(rows + 2) - 1;
        const std::string& text = Text();
        call << "AddRow(" << list << ", " << index << ", " << Quoted(text) << ")";
        both([&](WidgetServices& w) { w.AddRow(list, index, text); });
        break;
      }
      case 2: {
        // The program writes only into columns its views have: a cell beyond them is one
        // the in-memory dump would print and no window can show.
        const int row = Pick(rows + 1);
        const int column = Pick(list == kMultiView ? 3 : list == kSingleView ? 2 : 1);
        const std::string& text = Text();
        call << "SetRowText(" << list << ", " << row << ", " << column << ", " << Quoted(text)
             << ")";
        both([&](WidgetServices& w) { w.SetRowText(list, row, column, text); });
        break;
      }
      case 3: {
        const int row = Pick(rows + 1);
        call << "RemoveRow(" << list << ", " << row << ")";
        both([&](WidgetServices& w) { w.RemoveRow(list, row); });
        break;
      }
      case 4: {
        std::vector<int> removed;
        for (int row = 0; row < rows; ++row) {
          if (Pick(3) == 0) {
            removed.push_back(row);
          }
        }
        call << "RemoveRows(" << list << ", " << removed.size() << " rows)";
        both([&](WidgetServices& w) { w.RemoveRows(list, removed); });
        break;
      }
      case 5: {
        if (Pick(4) != 0) {
          return Next(memory, real);
        }
        call << "RemoveAllRows(" << list << ")";
        both([&](WidgetServices& w) { w.RemoveAllRows(list); });
        break;
      }
      case 6: {
        const int row = Pick(rows + 1) - (Pick(5) == 0 ? 1 : 0);
        call << "SelectRow(" << list << ", " << row << ")";
        both([&](WidgetServices& w) { w.SelectRow(list, row); });
        break;
      }
      case 7:
      case 8: {
        const int view = Pick(2) == 0 ? kSingleView : kMultiView;
        const int row = Pick(memory.CountRows(view) + 1);
        const bool selected = Pick(3) != 0;
        const bool focused = Pick(2) == 0;
        call << "SetRowSelected(" << view << ", " << row << ", " << selected << ", " << focused
             << ")";
        both([&](WidgetServices& w) { w.SetRowSelected(view, row, selected, focused); });
        break;
      }
      case 9: {
        const int control = kAll[Pick(7)];
        const bool enabled = Pick(2) == 0;
        call << "SetEnabled(" << control << ", " << enabled << ")";
        both([&](WidgetServices& w) { w.SetEnabled(control, enabled); });
        break;
      }
      case 10: {
        const int control = kAll[Pick(3)];  // button, field, label
        const std::string& text = Text();
        // A label breaks its lines where the program's text has "\r"; a "\n" of its own
        // shows as a break all the same and cannot be told apart. Labels hold no file names.
        if (control == kLabel && text.find('\n') != std::string::npos) {
          return Next(memory, real);
        }
        call << "SetText(" << control << ", " << Quoted(text) << ")";
        both([&](WidgetServices& w) { w.SetText(control, text); });
        break;
      }
      default: {
        const int value = Pick(131) - 15;
        call << "SetProgress(" << value << ")";
        both([&](WidgetServices& w) { w.SetProgress(kProgress, value); });
        break;
      }
    }
    return call.str();
  }

  // A backend that shows rows later is told to show them when the event loop comes round,
  // not after each call.
  bool TimeToPublish() { return Pick(3) == 0; }

 private:
  int Pick(int count) { return std::uniform_int_distribution<int>(0, count - 1)(random_); }
  const std::string& Text() {
    return TextPool()[static_cast<std::size_t>(Pick(static_cast<int>(TextPool().size())))];
  }

  std::mt19937 random_;
};

// A label breaks lines where the program's text has "\r".
std::string ShownInLabel(const std::string& text) {
  const std::string shown = DisplayText(text);
  std::string broken;
  for (std::size_t index = 0; index < shown.size(); ++index) {
    if (shown[index] == '\r') {
      broken.push_back('\n');
      if (index + 1 < shown.size() && shown[index + 1] == '\n') {
        ++index;
      }
    } else {
      broken.push_back(shown[index]);
    }
  }
  return broken;
}

// What the control shows of its text, held in memory.
std::string HeldText(const HeadlessControl& held) {
  return held.kind == ControlKind::Label ? ShownInLabel(held.text) : DisplayText(held.text);
}

bool HasText(ControlKind kind) {
  return kind == ControlKind::Button || kind == ControlKind::Field || kind == ControlKind::Label;
}

// Every difference between what the real controls show and what the in-memory backend
// holds, one line each; empty when they agree.
std::vector<std::string> Differences(HeadlessWidgetServices& memory, ShownControls& real,
                                     bool rowsShown) {
  std::vector<std::string> found;
  WidgetServices& services = real.Services();
  const auto differ = [&found](int control, const std::string& what, const std::string& realSide,
                               const std::string& memorySide) {
    if (realSide != memorySide) {
      found.push_back(std::to_string(control) + " " + what + ": real \"" + realSide +
                      "\", in memory \"" + memorySide + "\"");
    }
  };
  const auto number = [](auto value) { return std::to_string(value); };
  for (const int control : kAll) {
    const HeadlessControl& held = *memory.Control(control);
    differ(control, "enabled", number(real.Enabled(control)), number(held.enabled));
    differ(control, "IsEnabled", number(services.IsEnabled(control)),
           number(memory.IsEnabled(control)));
    differ(control, "GetText", DisplayText(services.GetText(control)),
           DisplayText(memory.GetText(control)));
    differ(control, "CountRows", number(services.CountRows(control)),
           number(memory.CountRows(control)));
    differ(control, "SelectedRow", number(services.SelectedRow(control)),
           number(memory.SelectedRow(control)));
    for (int row = 0; row < memory.CountRows(control); ++row) {
      differ(control, "IsRowSelected " + std::to_string(row),
             number(services.IsRowSelected(control, row)),
             number(memory.IsRowSelected(control, row)));
    }
    if (HasText(held.kind)) {
      differ(control, "text shown", real.Text(control), HeldText(held));
    } else if (held.kind == ControlKind::Progress) {
      differ(control, "progress", number(real.Progress(control)), number(held.progress));
    } else if (rowsShown) {
      const int rows = real.RowsShown(control);
      differ(control, "rows shown", number(rows), number(held.rows.size()));
      if (rows != static_cast<int>(held.rows.size())) {
        continue;
      }
      const int columns = real.ColumnsShown(control);
      for (int row = 0; row < rows; ++row) {
        const auto& cells = held.rows[static_cast<std::size_t>(row)];
        for (int column = 0; column < columns; ++column) {
          const std::string cell = static_cast<std::size_t>(column) < cells.size()
                                       ? cells[static_cast<std::size_t>(column)]
                                       : std::string();
          differ(control, "row " + std::to_string(row) + " column " + std::to_string(column),
                 real.Cell(control, row, column), DisplayRowText(cell));
        }
        const bool heldSelected = held.kind == ControlKind::ListBox
                                      ? held.selectedRow == row
                                      : static_cast<bool>(held.rowSelected[row]);
        differ(control, "row " + std::to_string(row) + " selected",
               number(real.RowShownSelected(control, row)), number(heldSelected));
      }
      if (held.kind == ControlKind::ListView && held.focusedRow >= 0) {
        differ(control, "current row", number(real.CurrentRow(control)), number(held.focusedRow));
      }
    }
  }
  return found;
}

}  // namespace

std::string RunWidgetDifferential(const std::function<std::unique_ptr<ShownControls>()>& make,
                                  DifferentialRun run) {
  for (int sequence = 1; sequence <= run.sequences; ++sequence) {
    HeadlessWidgetServices memory;
    const std::unique_ptr<ShownControls> real = make();
    Build(memory);
    Build(real->Services());
    CallMaker maker(static_cast<unsigned>(sequence));
    std::vector<std::string> calls;
    for (int step = 0; step < run.callsPerSequence; ++step) {
      calls.push_back(maker.Next(memory, real->Services()));
      const bool publish = maker.TimeToPublish();
      if (publish) {
        real->Publish();
      }
      const bool rowsShown = publish || real->ShowsRowsAtOnce();
      std::vector<std::string> differences = Differences(memory, *real, rowsShown);
      if (rowsShown) {
        if (const std::optional<std::string> shown = real->ShownDump()) {
          const std::string held = JsonLine(DumpState(ShownStateOf(memory), 0, false));
          if (*shown != held) {
            differences.push_back("dump read back from the real controls:\n" + *shown +
                                  "\nin memory:\n" + held);
          }
        }
      }
      if (!differences.empty()) {
        std::string report = "sequence " + std::to_string(sequence) + ", calls:\n";
        for (const std::string& call : calls) {
          report += "  " + call + "\n";
        }
        for (const std::string& difference : differences) {
          report += "differs: " + difference + "\n";
        }
        return report;
      }
    }
  }
  return {};
}

}  // namespace kopiensieb::testing
