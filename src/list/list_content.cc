#include "list/list_content.h"

#include <unistd.h>

#include "front/answer.h"
#include "target/target.h"

void listContent(platform::Capture& capture, const platform::ShareableContent& content) {
  uint32_t mainDisplay = capture.mainDisplayID();
  Json displays = Json::array();
  for (auto& d : content.displays)
    displays.push_back({{"id", d.displayID}, {"name", d.name}, {"x", d.x}, {"y", d.y}, {"width", d.width},
                        {"height", d.height}, {"scale", pixelSize(capture, d).scale}, {"main", d.displayID == mainDisplay}});
  Json windows = Json::array();
  for (auto& w : content.windows)
    windows.push_back({{"id", w.windowID}, {"title", w.title}, {"x", w.frame.x}, {"y", w.frame.y},
                       {"width", w.frame.width}, {"height", w.frame.height},
                       {"pid", w.owningApplication ? Json(w.owningApplication->processID) : Json(nullptr)},
                       {"onScreen", w.onScreen}});
  Json applications = Json::array();
  for (auto& a : content.applications) applications.push_back({{"pid", a.processID}, {"name", a.applicationName}});
  answer({{"displays", displays}, {"windows", windows}, {"applications", applications}});
  _exit(0);
}
