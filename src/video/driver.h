// The capture driver: lists what can be captured, finds the display, and runs
// the job the command word chose. Runs once, on its own thread.
#pragma once

void drive();
