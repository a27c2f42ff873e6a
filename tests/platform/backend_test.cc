#include "platform/backend.h"

#include <gtest/gtest.h>

#include <map>

namespace {

using platform::Backend;

TEST(ChooseBackend, FollowsTheOverrideThenTheCompositorThenTheXServer) {
  struct Case {
    std::map<std::string, std::string> environment;
    platform::WaylandLook look;
    std::optional<Backend> backend;
    std::string problem, note;
    bool looked;
  } cases[] = {
      {{{"DISPLAY", ":1"}}, {}, Backend::x11, "", "", false},
      {{{"WAYLAND_DISPLAY", "wayland-1"}}, {true, true}, Backend::wayland, "", "", true},
      {{{"WAYLAND_DISPLAY", "wayland-1"}, {"DISPLAY", ":1"}}, {true, true}, Backend::wayland, "", "", true},
      // GNOME or KDE: the screencast portal serves, with or without XWayland.
      {{{"WAYLAND_DISPLAY", "wayland-0"}, {"DISPLAY", ":0"}},
       {true, false},
       Backend::portal,
       "",
       "the Wayland compositor at wayland-0 does not offer screencopy (GNOME and KDE do not): capturing through the "
       "desktop's screencast portal, which asks the user once",
       true},
      {{{"WAYLAND_DISPLAY", "wayland-0"}},
       {true, false},
       Backend::portal,
       "",
       "the Wayland compositor at wayland-0 does not offer screencopy (GNOME and KDE do not): capturing through the "
       "desktop's screencast portal, which asks the user once",
       true},
      {{{"WAYLAND_DISPLAY", "wayland-0"}, {"DISPLAY", ":0"}},
       {false, false},
       Backend::x11,
       "",
       "no Wayland compositor answers at wayland-0: capturing through the X server :0, which sees X programs only",
       true},
      {{{"WAYLAND_DISPLAY", "wayland-0"}, {"DISPLAY", ""}},
       {false, false},
       std::nullopt,
       "no Wayland compositor answers at wayland-0, and there is no X server to fall back on (DISPLAY is not set)",
       "",
       true},
      // Neither: the X server says that DISPLAY is not set.
      {{}, {}, Backend::x11, "", "", false},
      {{{"WAYLAND_DISPLAY", ""}}, {}, Backend::x11, "", "", false},
      // The override, both ways, never looks.
      {{{"PELLIX_CAPTURE_BACKEND", "x11"}, {"WAYLAND_DISPLAY", "wayland-1"}}, {true, true}, Backend::x11, "", "",
       false},
      {{{"PELLIX_CAPTURE_BACKEND", "wayland"}, {"DISPLAY", ":1"}}, {}, Backend::wayland, "", "", false},
      {{{"PELLIX_CAPTURE_BACKEND", "portal"}, {"WAYLAND_DISPLAY", "wayland-1"}}, {true, true}, Backend::portal, "",
       "", false},
      {{{"PELLIX_CAPTURE_BACKEND", ""}, {"DISPLAY", ":1"}}, {}, Backend::x11, "", "", false},
      {{{"PELLIX_CAPTURE_BACKEND", "Wayland"}, {"DISPLAY", ":1"}},
       {},
       std::nullopt,
       "PELLIX_CAPTURE_BACKEND is \"Wayland\", but it takes x11, wayland or portal",
       "",
       false},
  };
  for (auto& c : cases) {
    std::string trace;
    for (auto& [name, value] : c.environment) trace += name + "=" + value + " ";
    SCOPED_TRACE(trace);
    int looks = 0;
    auto choice = platform::chooseBackend(
        [&](const std::string& name) -> std::optional<std::string> {
          auto found = c.environment.find(name);
          if (found == c.environment.end()) return std::nullopt;
          return found->second;
        },
        [&] {
          looks++;
          return c.look;
        });
    EXPECT_EQ(choice.backend, c.backend);
    EXPECT_EQ(choice.problem, c.problem);
    EXPECT_EQ(choice.note, c.note);
    EXPECT_EQ(looks, c.looked ? 1 : 0);
  }
}

}  // namespace
