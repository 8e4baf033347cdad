#include "shell/status_texts.h"

#include "shell/control_numbers.h"

namespace kopiensieb {

namespace {

// The scan and the search report on every file they visit; comparing with what was written
// last keeps the status bar from being rewritten thousands of times with the same words.
void WriteFieldIfChanged(Program& program, int field, std::string& lastWritten,
                         const std::string& text) {
  if (text == lastWritten) {
    return;
  }
  program.widgets.SetStatusText(field, text);
  lastWritten.assign(text);  // reuses the buffer, so a running count does not allocate
}

}  // namespace

void SetActivityText(Program& program, const std::string& text) {
  WriteFieldIfChanged(program, kActivityField, program.state.activityText, text);
}

void SetDetailText(Program& program, const std::string& text) {
  WriteFieldIfChanged(program, kDetailField, program.state.detailText, text);
}

}  // namespace kopiensieb
