#pragma once

#include "shell/program.h"

namespace kopiensieb {

void DeleteMarkedCommand(Program& program);     // control 7
void DeleteOthersCommand(Program& program);     // control 10
void DeleteByPatternCommand(Program& program);  // control 11

}  // namespace kopiensieb
