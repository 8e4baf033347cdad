#pragma once

#include "shell/program.h"

namespace kopiensieb {

// Runs passes until the pass in which a close request arrived.
void RunEventLoop(Program& program);

// One pass for an event that has already been taken: welcome texts, availability, dispatch.
// Returns false when the event was a close request.
bool RunPass(Program& program, const Event& event);

void ApplyAvailabilityRules(Program& program);

// Control 8: clears the catalogue, the groups, the folders and the ToDelete list.
void ResetCommand(Program& program);

}  // namespace kopiensieb
