// Wires the real platform services to the tool.
#include "front/entry.h"
#include "front/globals.h"
#include "platform/x11/x11_capture.h"

int main(int argc, char** argv) {
  static platform::X11Capture x11;
  capture = &x11;
  enter(argc, argv);
}
