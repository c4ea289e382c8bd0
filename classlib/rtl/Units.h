// Unit initialisation and finalisation in an explicit order.
//
// Global objects that a unit creates when it starts (the session list and its "Default"
// session, the evaluator's global symbol table, the hook list...) are made by init functions
// that the program's start-up file registers in one visible list, never by static constructors.
// InitializeUnits runs them by ascending order (equal orders in registration order);
// FinalizeUnits runs the finalisers of the initialised units in reverse.  The conventional
// orders: runtime 100, engine 200, dataset components 300, component library 400, application
// 500.
//
// Threads: call from the main thread, before and after the event loop.
#pragma once

#include <functional>
#include <string>

namespace cl {

// Registers a unit; `init` or `final` may be empty.  Registering a name twice replaces the
// earlier registration (tests re-register between runs).
void RegisterUnit(const std::string& name, std::function<void()> init, std::function<void()> final,
                  int order);

// Runs the init functions not yet run.  When one throws, the units initialised so far are
// finalised (in reverse) and the exception passes on.
void InitializeUnits();

// Finalises every initialised unit in reverse order of initialisation.  A finaliser's exception
// goes to Application().HandleException and the others still run.
void FinalizeUnits();

// Forgets every registration (the units must be finalised).  For tests.
void ClearUnits();

}  // namespace cl
