// The process's whole life: process-wide values, the command word, options,
// the permission check, then the chosen job. Never returns.
#pragma once

[[noreturn]] void enter(int argc, char** argv);
