#pragma once

// The widget backends held to each other: the same seeded random sequences of widget-service
// calls go to the in-memory backend and to a real one, and after every call the real
// controls (read back from the controls themselves, not through the services) must show what
// the in-memory backend holds, and both must answer the program's questions alike.

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/widget_services.h"

namespace kopiensieb::testing {

// A real backend under test and what its controls show.
class ShownControls {
 public:
  virtual ~ShownControls() = default;

  virtual WidgetServices& Services() = 0;

  virtual bool Enabled(int control) = 0;
  // A button's caption, a field's content, a label's text with its line breaks as "\n";
  // UTF-8.
  virtual std::string Text(int control) = 0;
  virtual int Progress(int control) = 0;

  // Hands rows the program changed to the views, where a backend does that later.
  virtual void Publish() {}
  // True when rows are shown as soon as the program changes them (no Publish needed).
  virtual bool ShowsRowsAtOnce() const { return false; }
  virtual int RowsShown(int list) = 0;
  virtual int ColumnsShown(int list) = 0;
  virtual std::string Cell(int list, int row, int column) = 0;  // UTF-8, as shown
  virtual bool RowShownSelected(int list, int row) = 0;
  // The list view's row with the focus; -1 when none.
  virtual int CurrentRow(int list) = 0;

  // The dump a script driver reads back from these controls, when the backend has one.
  virtual std::optional<std::string> ShownDump() { return std::nullopt; }
};

struct DifferentialRun {
  int sequences = 300;
  int callsPerSequence = 60;
};

// Runs the sequences, each on a fresh backend; "" when the backends agreed throughout, else
// the calls of the first sequence that went apart and every difference after its last call.
std::string RunWidgetDifferential(const std::function<std::unique_ptr<ShownControls>()>& make,
                                  DifferentialRun run = {});

}  // namespace kopiensieb::testing
