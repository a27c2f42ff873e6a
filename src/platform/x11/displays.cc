#include "platform/x11/displays.h"

#include <xcb/randr.h>

#include "platform/x11/encoding.h"

namespace platform::x11 {

namespace {

std::string atomName(Connection& connection, xcb_get_atom_name_cookie_t cookie) {
  Reply<xcb_get_atom_name_reply_t> name(xcb_get_atom_name_reply(connection.xcb(), cookie, nullptr));
  if (!name) return "";
  // Atom names are Latin-1.
  return latin1ToUtf8({xcb_get_atom_name_name(name.get()), size_t(xcb_get_atom_name_name_length(name.get()))});
}

std::vector<Monitor> fromMonitors(Connection& connection) {
  auto* c = connection.xcb();
  Reply<xcb_randr_get_monitors_reply_t> reply(
      xcb_randr_get_monitors_reply(c, xcb_randr_get_monitors(c, connection.root(), 1), nullptr));
  std::vector<Monitor> found;
  if (!reply) return found;
  std::vector<xcb_get_atom_name_cookie_t> names;
  for (auto it = xcb_randr_get_monitors_monitors_iterator(reply.get()); it.rem; xcb_randr_monitor_info_next(&it)) {
    auto* m = it.data;
    Monitor monitor;
    monitor.display.displayID = m->nOutput ? xcb_randr_monitor_info_outputs(m)[0] : m->name;
    monitor.display.width = m->width;
    monitor.display.height = m->height;
    monitor.display.x = m->x;
    monitor.display.y = m->y;
    monitor.primary = m->primary;
    found.push_back(monitor);
    names.push_back(xcb_get_atom_name(c, m->name));
  }
  for (size_t i = 0; i < found.size(); i++) found[i].display.name = atomName(connection, names[i]);
  return found;
}

// RandR 1.2 to 1.4: each active CRTC with outputs is a display.
std::vector<Monitor> fromCrtcs(Connection& connection) {
  auto* c = connection.xcb();
  auto primaryCookie = xcb_randr_get_output_primary(c, connection.root());
  Reply<xcb_randr_get_screen_resources_current_reply_t> resources(xcb_randr_get_screen_resources_current_reply(
      c, xcb_randr_get_screen_resources_current(c, connection.root()), nullptr));
  Reply<xcb_randr_get_output_primary_reply_t> primary(xcb_randr_get_output_primary_reply(c, primaryCookie, nullptr));
  std::vector<Monitor> found;
  if (!resources) return found;
  auto* crtcs = xcb_randr_get_screen_resources_current_crtcs(resources.get());
  int count = xcb_randr_get_screen_resources_current_crtcs_length(resources.get());
  std::vector<xcb_randr_get_crtc_info_cookie_t> cookies;
  for (int i = 0; i < count; i++) cookies.push_back(xcb_randr_get_crtc_info(c, crtcs[i], resources->config_timestamp));
  std::vector<xcb_randr_get_output_info_cookie_t> outputs;
  for (auto cookie : cookies) {
    Reply<xcb_randr_get_crtc_info_reply_t> crtc(xcb_randr_get_crtc_info_reply(c, cookie, nullptr));
    if (!crtc || crtc->mode == XCB_NONE || crtc->num_outputs == 0) continue;
    Monitor monitor;
    auto output = xcb_randr_get_crtc_info_outputs(crtc.get())[0];
    monitor.display.displayID = output;
    monitor.display.width = crtc->width;
    monitor.display.height = crtc->height;
    monitor.display.x = crtc->x;
    monitor.display.y = crtc->y;
    monitor.primary = primary && primary->output == output;
    found.push_back(monitor);
    outputs.push_back(xcb_randr_get_output_info(c, output, resources->config_timestamp));
  }
  for (size_t i = 0; i < found.size(); i++) {
    Reply<xcb_randr_get_output_info_reply_t> info(xcb_randr_get_output_info_reply(c, outputs[i], nullptr));
    if (info)
      found[i].display.name = validUtf8({reinterpret_cast<const char*>(xcb_randr_get_output_info_name(info.get())),
                                         size_t(xcb_randr_get_output_info_name_length(info.get()))});
  }
  return found;
}

}  // namespace

std::vector<Monitor> monitors(Connection& connection) {
  if (connection.broken()) return {};
  std::vector<Monitor> found;
  if (connection.has().randrMonitors) found = fromMonitors(connection);
  if (found.empty() && connection.has().randrCrtcs) found = fromCrtcs(connection);
  if (found.empty() && !connection.broken()) {
    Monitor whole;
    whole.display.displayID = connection.root();
    whole.display.width = connection.screen()->width_in_pixels;
    whole.display.height = connection.screen()->height_in_pixels;
    whole.display.name = "screen";
    whole.primary = true;
    found.push_back(whole);
  }
  return found;
}

uint32_t mainDisplay(const std::vector<Monitor>& monitors) {
  for (auto& m : monitors)
    if (m.primary) return m.display.displayID;
  return monitors.empty() ? 0 : monitors.front().display.displayID;
}

}  // namespace platform::x11
