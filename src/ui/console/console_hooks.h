// Hooks of the console user interface for tests: called where the module's dialog
// would handle window messages, so a test can press Cancel in the middle of a run.
#pragma once

extern void (*console_pump_hook)();

// Plain log lines (progress) are not shown; error lines still are.
extern bool console_quiet;
