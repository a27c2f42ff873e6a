#include "platform/x11/windows.h"

#include <xcb/res.h>

#include <fstream>
#include <map>

#include "platform/x11/encoding.h"

namespace platform::x11 {

namespace {

// Below a window manager's frame, the client sits this many levels deep at most.
constexpr int searchDepth = 4;

std::vector<xcb_window_t> children(Connection& connection, xcb_query_tree_cookie_t cookie) {
  Reply<xcb_query_tree_reply_t> tree(xcb_query_tree_reply(connection.xcb(), cookie, nullptr));
  if (!tree) return {};
  auto* first = xcb_query_tree_children(tree.get());
  return {first, first + xcb_query_tree_children_length(tree.get())};
}

}  // namespace

std::vector<TopLevel> topLevels(Connection& connection) {
  if (connection.broken()) return {};
  auto* c = connection.xcb();
  auto roots = children(connection, xcb_query_tree(c, connection.root()));
  std::vector<TopLevel> found;
  for (auto w : roots) found.push_back({w, XCB_NONE, {}});

  // Breadth first, one round of requests per level: the first window with
  // WM_STATE under each top-level is its client.
  struct Candidate {
    size_t topLevel;
    xcb_window_t window;
  };
  std::vector<Candidate> level;
  for (size_t i = 0; i < found.size(); i++) level.push_back({i, found[i].window});
  for (int depth = 0; depth <= searchDepth && !level.empty(); depth++) {
    std::vector<xcb_get_property_cookie_t> states;
    for (auto& candidate : level)
      states.push_back(xcb_get_property(c, 0, candidate.window, connection.atoms().wmState, XCB_ATOM_ANY, 0, 0));
    for (size_t i = 0; i < level.size(); i++) {
      Reply<xcb_get_property_reply_t> state(xcb_get_property_reply(c, states[i], nullptr));
      auto& top = found[level[i].topLevel];
      if (state && state->type != XCB_NONE && top.client == XCB_NONE) top.client = level[i].window;
    }
    if (depth == searchDepth) break;
    std::vector<Candidate> open;
    for (auto& candidate : level)
      if (found[candidate.topLevel].client == XCB_NONE) open.push_back(candidate);
    std::vector<xcb_query_tree_cookie_t> trees;
    for (auto& candidate : open) trees.push_back(xcb_query_tree(c, candidate.window));
    std::vector<Candidate> next;
    for (size_t i = 0; i < open.size(); i++)
      for (auto w : children(connection, trees[i])) {
        next.push_back({open[i].topLevel, w});
        found[open[i].topLevel].inside.push_back(w);
      }
    level = std::move(next);
  }
  for (auto& top : found)
    if (top.client == XCB_NONE) top.client = top.window;
  return found;
}

std::vector<pid_t> owners(Connection& connection, const std::vector<xcb_window_t>& windows) {
  std::vector<pid_t> pids(windows.size(), 0);
  if (connection.broken()) return pids;
  auto* c = connection.xcb();
  if (connection.has().res) {
    // A window's id names its client: one question per client.
    std::map<uint32_t, xcb_res_query_client_ids_cookie_t> asked;
    for (auto w : windows) {
      uint32_t client = w & connection.clientBits();
      if (!asked.count(client)) {
        xcb_res_client_id_spec_t spec{w, XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID};
        asked[client] = xcb_res_query_client_ids(c, 1, &spec);
      }
    }
    std::map<uint32_t, pid_t> answered;
    for (auto& [client, cookie] : asked) {
      Reply<xcb_res_query_client_ids_reply_t> ids(xcb_res_query_client_ids_reply(c, cookie, nullptr));
      if (!ids) continue;
      for (auto it = xcb_res_query_client_ids_ids_iterator(ids.get()); it.rem; xcb_res_client_id_value_next(&it)) {
        if ((it.data->spec.mask & XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID) && it.data->length >= 4)
          answered[client] = pid_t(*xcb_res_client_id_value_value(it.data));
      }
    }
    for (size_t i = 0; i < windows.size(); i++) {
      auto found = answered.find(windows[i] & connection.clientBits());
      if (found != answered.end()) pids[i] = found->second;
    }
  }
  std::vector<std::pair<size_t, xcb_get_property_cookie_t>> asked;
  for (size_t i = 0; i < windows.size(); i++)
    if (pids[i] <= 0)
      asked.push_back({i, xcb_get_property(c, 0, windows[i], connection.atoms().netWmPid, XCB_ATOM_CARDINAL, 0, 1)});
  for (auto& [i, cookie] : asked) {
    Reply<xcb_get_property_reply_t> pid(xcb_get_property_reply(c, cookie, nullptr));
    if (pid && pid->format == 32 && xcb_get_property_value_length(pid.get()) >= 4)
      pids[i] = pid_t(*static_cast<uint32_t*>(xcb_get_property_value(pid.get())));
  }
  for (auto& pid : pids)
    if (pid < 0) pid = 0;
  return pids;
}

std::string propertyText(Connection& connection, const xcb_get_property_reply_t* reply) {
  if (!reply || reply->type == XCB_NONE || reply->format != 8) return "";
  std::string_view bytes(static_cast<const char*>(xcb_get_property_value(reply)),
                         size_t(xcb_get_property_value_length(reply)));
  if (reply->type == connection.atoms().utf8String) return validUtf8(bytes);
  return latin1ToUtf8(bytes);  // STRING; COMPOUND_TEXT is read alike
}

std::string classPart(const xcb_get_property_reply_t* reply) {
  if (!reply || reply->type == XCB_NONE || reply->format != 8) return "";
  std::string_view value(static_cast<const char*>(xcb_get_property_value(reply)),
                         size_t(xcb_get_property_value_length(reply)));
  auto end = value.find('\0');
  if (end == std::string_view::npos) return "";
  auto name = value.substr(end + 1);
  return latin1ToUtf8(name.substr(0, name.find('\0')));  // WM_CLASS is a STRING: Latin-1
}

std::string commandName(pid_t pid) {
  std::ifstream file("/proc/" + std::to_string(pid) + "/comm");
  std::string name;
  std::getline(file, name);
  return validUtf8(name);  // a process names itself with any bytes
}

}  // namespace platform::x11
