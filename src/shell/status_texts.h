#pragma once

#include <string>

#include "shell/program.h"

namespace kopiensieb {

// Write status-bar field 0 / 1 unless the text equals the one written there last.
void SetActivityText(Program& program, const std::string& text);
void SetDetailText(Program& program, const std::string& text);

}  // namespace kopiensieb
