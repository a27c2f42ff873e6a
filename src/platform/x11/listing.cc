#include "platform/x11/listing.h"

#include <algorithm>
#include <map>

#include "platform/x11/displays.h"
#include "platform/x11/windows.h"

namespace platform::x11 {

namespace {

// What the listing asks of each client window, in one round of requests.
struct Asked {
  xcb_get_window_attributes_cookie_t attributes;
  xcb_get_geometry_cookie_t geometry;
  xcb_translate_coordinates_cookie_t origin;
  xcb_get_property_cookie_t netName, name, wmClass;
};

constexpr uint32_t textLimit = 4096;  // in 32-bit units

}  // namespace

ShareableContent listing(Connection& connection) {
  ShareableContent content;
  for (auto& m : monitors(connection)) content.displays.push_back(m.display);

  auto tops = topLevels(connection);
  std::reverse(tops.begin(), tops.end());  // topmost first
  auto* c = connection.xcb();
  auto& atoms = connection.atoms();
  std::vector<Asked> asked;
  for (auto& top : tops) {
    auto w = top.client;
    asked.push_back({xcb_get_window_attributes(c, w), xcb_get_geometry(c, w),
                     xcb_translate_coordinates(c, w, connection.root(), 0, 0),
                     xcb_get_property(c, 0, w, atoms.netWmName, atoms.utf8String, 0, textLimit),
                     xcb_get_property(c, 0, w, XCB_ATOM_WM_NAME, XCB_ATOM_ANY, 0, textLimit),
                     xcb_get_property(c, 0, w, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 0, textLimit)});
  }
  std::vector<xcb_window_t> listed;
  std::vector<std::string> classes;
  for (size_t i = 0; i < tops.size(); i++) {
    Reply<xcb_get_window_attributes_reply_t> attributes(
        xcb_get_window_attributes_reply(c, asked[i].attributes, nullptr));
    Reply<xcb_get_geometry_reply_t> geometry(xcb_get_geometry_reply(c, asked[i].geometry, nullptr));
    Reply<xcb_translate_coordinates_reply_t> origin(xcb_translate_coordinates_reply(c, asked[i].origin, nullptr));
    Reply<xcb_get_property_reply_t> netName(xcb_get_property_reply(c, asked[i].netName, nullptr));
    Reply<xcb_get_property_reply_t> name(xcb_get_property_reply(c, asked[i].name, nullptr));
    Reply<xcb_get_property_reply_t> wmClass(xcb_get_property_reply(c, asked[i].wmClass, nullptr));
    // Gone meanwhile, or input only (no pixels): not capturable.
    if (!attributes || !geometry || !origin || attributes->_class == XCB_WINDOW_CLASS_INPUT_ONLY) continue;
    // The backdrop of a capture that leaves applications out is no content.
    std::string windowClass = classPart(wmClass.get());
    if (windowClass == ownClass) continue;
    Window window;
    window.windowID = tops[i].client;
    window.frame = {double(origin->dst_x), double(origin->dst_y), double(geometry->width), double(geometry->height)};
    window.title = propertyText(connection, netName.get());
    if (window.title.empty()) window.title = propertyText(connection, name.get());
    window.onScreen = attributes->map_state == XCB_MAP_STATE_VIEWABLE;
    content.windows.push_back(window);
    listed.push_back(window.windowID);
    classes.push_back(windowClass);
  }
  if (connection.broken()) throw connection.failure();

  // One application per owning process, named after the class of its first
  // window by id (so the name does not follow the stacking order).
  auto pids = owners(connection, listed);
  std::map<pid_t, std::pair<xcb_window_t, std::string>> named;
  for (size_t i = 0; i < listed.size(); i++) {
    if (pids[i] <= 0) continue;
    auto [place, fresh] = named.try_emplace(pids[i], listed[i], classes[i]);
    auto& entry = place->second;
    bool hasClass = !classes[i].empty(), entryHasClass = !entry.second.empty();
    if (!fresh && (hasClass > entryHasClass || (hasClass == entryHasClass && listed[i] < entry.first)))
      entry = {listed[i], classes[i]};
  }
  std::map<pid_t, RunningApplication> applications;
  for (auto& [pid, entry] : named) {
    std::string name = entry.second.empty() ? commandName(pid) : entry.second;
    applications[pid] = {pid, name};
    content.applications.push_back(applications[pid]);
  }
  for (size_t i = 0; i < content.windows.size(); i++)
    if (pids[i] > 0) content.windows[i].owningApplication = applications[pids[i]];
  if (connection.broken()) throw connection.failure();
  return content;
}

}  // namespace platform::x11
