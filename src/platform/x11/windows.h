// The top-level windows of the X screen and the client windows inside them,
// and which process owns a window.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "platform/x11/connection.h"

namespace platform::x11 {

struct TopLevel {
  xcb_window_t window = XCB_NONE;  // a child of the root: a client, or a window manager's frame
  xcb_window_t client = XCB_NONE;  // the window with WM_STATE inside it; itself when none has it
  std::vector<xcb_window_t> inside;  // the windows below it that the search for the client saw
};

// The children of the root, bottom to top (the stacking order), each with its
// client. Empty when the connection breaks.
std::vector<TopLevel> topLevels(Connection& connection);

// The process owning each window (0 when unknown): the XRes extension's local
// client id, else the window's _NET_WM_PID.
std::vector<pid_t> owners(Connection& connection, const std::vector<xcb_window_t>& windows);

// The text of a property reply as valid UTF-8: UTF8_STRING with bad bytes
// replaced, STRING (Latin-1) converted.
std::string propertyText(Connection& connection, const xcb_get_property_reply_t* reply);

// The class part of a WM_CLASS value ("instance\0class\0", Latin-1) as UTF-8,
// empty when absent.
// The WM_CLASS class of the tool's own windows, which no listing shows.
inline constexpr char ownClass[] = "pellix-capture";

std::string classPart(const xcb_get_property_reply_t* reply);

// /proc/<pid>/comm, without its line feed, bad UTF-8 replaced; empty when it
// cannot be read.
std::string commandName(pid_t pid);

}  // namespace platform::x11
