// The units the program `mirvel` registers at start: one visible list, so that a test sees what
// the program has (a unit left out here is silently missing from the program, not from its test).
#pragma once

namespace mirvel {

// Registers the program's units; the program then runs cl::InitializeUnits, and
// cl::FinalizeUnits at its end.
void RegisterProgramUnits();

}  // namespace mirvel
