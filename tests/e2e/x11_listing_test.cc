// The X11 backend's permission check and listing against a real Xvfb, with
// windows of our own, bare and under a reparenting window manager.
#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

#include "x11_support.h"

namespace {

using platform::ShareableContent;
using platform::Window;
using x11test::captureOn;

const Window* windowOf(const ShareableContent& content, uint32_t id) {
  for (auto& w : content.windows)
    if (w.windowID == id) return &w;
  return nullptr;
}

// Where `id` stands in the listing: 0 for the topmost window.
long rankOf(const ShareableContent& content, uint32_t id) {
  for (size_t i = 0; i < content.windows.size(); i++)
    if (content.windows[i].windowID == id) return long(i);
  return -1;
}

std::vector<uint32_t> ids(const ShareableContent& content) {
  std::vector<uint32_t> found;
  for (auto& w : content.windows) found.push_back(w.windowID);
  return found;
}

TEST(X11Listing, TheScreenIsOneDisplayNamedByItsOutput) {
  e2e::Xvfb server(800, 600);
  auto capture = captureOn(server);
  EXPECT_TRUE(capture->allowed());
  auto content = capture->shareableContent();
  ASSERT_EQ(content.displays.size(), 1u);
  auto& display = content.displays[0];
  x11test::Client client(server);
  EXPECT_EQ(display.displayID, client.firstOutput());
  EXPECT_EQ(display.width, 800);
  EXPECT_EQ(display.height, 600);
  EXPECT_EQ(display.x, 0);
  EXPECT_EQ(display.y, 0);
  EXPECT_EQ(display.name, "screen");
  EXPECT_EQ(capture->mainDisplayID(), display.displayID);
  auto mode = capture->displayMode(display.displayID);
  ASSERT_TRUE(mode);
  EXPECT_EQ(mode->pixelWidth, 800);
  EXPECT_EQ(mode->pixelHeight, 600);
  EXPECT_FALSE(capture->displayMode(display.displayID + 1000));
}

TEST(X11Listing, WithoutRandrTheScreenIsOneDisplayNamedByTheRoot) {
  e2e::Xvfb server(640, 480, {"-extension", "RANDR"});
  auto capture = captureOn(server);
  auto content = capture->shareableContent();
  ASSERT_EQ(content.displays.size(), 1u);
  x11test::Client client(server);
  EXPECT_EQ(content.displays[0].displayID, client.root());
  EXPECT_EQ(content.displays[0].width, 640);
  EXPECT_EQ(content.displays[0].height, 480);
  EXPECT_EQ(capture->mainDisplayID(), client.root());
}

TEST(X11Listing, AMonitorWithoutOutputsTakesItsNameAtomAndThePrimaryIsMain) {
  if (!x11test::installed("xrandr")) GTEST_SKIP() << "xrandr is not installed";
  e2e::Xvfb server(800, 600);
  x11test::runOn(server, {"xrandr", "--setmonitor", "right", "400/100x600/100+400+0", "none"});
  auto capture = captureOn(server);
  auto content = capture->shareableContent();
  ASSERT_EQ(content.displays.size(), 2u);
  x11test::Client client(server);
  auto right = std::find_if(content.displays.begin(), content.displays.end(),
                            [](auto& d) { return d.name == "right"; });
  ASSERT_NE(right, content.displays.end());
  EXPECT_EQ(right->displayID, client.atom("right"));
  EXPECT_EQ(right->x, 400);
  EXPECT_EQ(right->width, 400);
  EXPECT_EQ(right->height, 600);
  EXPECT_EQ(capture->shareableContent().displays.size(), 2u);
  // No primary output yet: the first monitor is the main display.
  EXPECT_EQ(capture->mainDisplayID(), content.displays[0].displayID);

  x11test::runOn(server, {"xrandr", "--output", "screen", "--primary"});
  EXPECT_EQ(capture->mainDisplayID(), client.firstOutput());
}

TEST(X11Listing, WindowsComeFrontToBackWithTheirFramesTitlesAndOwners) {
  e2e::Xvfb server(640, 480);
  auto low = e2e::paintWindow(server, 10, 20, 100, 50, 0xff0000, "lower");
  auto high = e2e::paintWindow(server, 30, 40, 60, 70, 0x00ff00, "upper");
  auto capture = captureOn(server);
  auto content = capture->shareableContent();

  auto* lower = windowOf(content, low.id);
  auto* upper = windowOf(content, high.id);
  ASSERT_TRUE(lower && upper);
  EXPECT_LT(rankOf(content, high.id), rankOf(content, low.id));
  EXPECT_EQ(lower->frame, (platform::Rect{10, 20, 100, 50}));
  EXPECT_EQ(upper->frame, (platform::Rect{30, 40, 60, 70}));
  EXPECT_EQ(lower->title, "lower");
  EXPECT_TRUE(lower->onScreen);
  ASSERT_TRUE(lower->owningApplication);
  EXPECT_EQ(lower->owningApplication->processID, low.process->pid());
  EXPECT_EQ(lower->owningApplication->applicationName, "lower");
  ASSERT_TRUE(upper->owningApplication);
  EXPECT_EQ(upper->owningApplication->processID, high.process->pid());

  auto apps = content.applications;
  auto has = [&](pid_t pid, const std::string& name) {
    return std::any_of(apps.begin(), apps.end(),
                       [&](auto& a) { return a.processID == pid && a.applicationName == name; });
  };
  EXPECT_TRUE(has(low.process->pid(), "lower"));
  EXPECT_TRUE(has(high.process->pid(), "upper"));

  // Raising changes the order; nothing else does.
  auto again = capture->shareableContent();
  EXPECT_EQ(ids(again), ids(content));
  x11test::tell(low, "raise");
  auto raised = capture->shareableContent();
  EXPECT_LT(rankOf(raised, low.id), rankOf(raised, high.id));
  EXPECT_EQ(raised.applications.size(), content.applications.size());
  for (size_t i = 0; i < raised.applications.size(); i++)
    EXPECT_EQ(raised.applications[i].processID, content.applications[i].processID);
}

TEST(X11Listing, AnUnmappedWindowIsListedOffScreen) {
  e2e::Xvfb server(640, 480);
  auto painter = e2e::paintWindow(server, 5, 5, 40, 30, 0x0000ff, "hidden");
  x11test::tell(painter, "unmap");
  auto capture = captureOn(server);
  auto content = capture->shareableContent();
  auto* window = windowOf(content, painter.id);
  ASSERT_TRUE(window);
  EXPECT_FALSE(window->onScreen);
  EXPECT_EQ(window->frame.width, 40);
}

TEST(X11Listing, AnEmptyWindowClassNamesTheApplicationAfterItsCommand) {
  e2e::Xvfb server(640, 480);
  auto painter = e2e::paintWindow(server, 5, 5, 40, 30, 0x0000ff, "");
  auto capture = captureOn(server);
  auto content = capture->shareableContent();
  auto* window = windowOf(content, painter.id);
  ASSERT_TRUE(window && window->owningApplication);
  EXPECT_EQ(window->owningApplication->applicationName, "paint-window");
}

TEST(X11Listing, BehindAReparentingWindowManagerTheClientWindowIsListed) {
  if (!x11test::installed("openbox")) GTEST_SKIP() << "openbox is not installed";
  e2e::Xvfb server(640, 480);
  e2e::Openbox manager(server);
  auto low = e2e::paintWindow(server, 10, 20, 100, 50, 0xff0000, "lower");
  auto high = e2e::paintWindow(server, 200, 150, 60, 70, 0x00ff00, "upper");
  auto capture = captureOn(server);
  x11test::Client client(server);
  // The window manager frames, places and marks its clients (WM_STATE) a
  // moment after they map: wait until the listing shows both where they are.
  ShareableContent content;
  int x = -1, y = -1;
  e2e::eventually([&] {
    content = capture->shareableContent();
    std::tie(x, y) = client.origin(low.id);
    auto* lower = windowOf(content, low.id);
    return lower && windowOf(content, high.id) && lower->frame == platform::Rect{double(x), double(y), 100, 50} &&
           lower->onScreen && y > 20 && rankOf(content, high.id) < rankOf(content, low.id);
  });
  auto* lower = windowOf(content, low.id);
  auto* upper = windowOf(content, high.id);
  ASSERT_TRUE(lower && upper);
  // The client's own area: the frame's decoration lies outside it.
  EXPECT_EQ(lower->frame, (platform::Rect{double(x), double(y), 100, 50}));
  EXPECT_GT(y, 20);  // below the title bar
  EXPECT_TRUE(lower->onScreen);
  EXPECT_LT(rankOf(content, high.id), rankOf(content, low.id));
  ASSERT_TRUE(lower->owningApplication);
  EXPECT_EQ(lower->owningApplication->processID, low.process->pid());
  EXPECT_EQ(lower->owningApplication->applicationName, "lower");

  x11test::tell(low, "raise");
  // The window manager restacks the frame on the client's request.
  e2e::eventually([&] {
    content = capture->shareableContent();
    return rankOf(content, low.id) < rankOf(content, high.id);
  });
  EXPECT_LT(rankOf(content, low.id), rankOf(content, high.id));

  x11test::tell(high, "unmap");
  EXPECT_TRUE(e2e::eventually([&] {
    auto* w = windowOf(content = capture->shareableContent(), high.id);
    return w && !w->onScreen;
  }));
}

TEST(X11Listing, TheWindowFilterIsTheWindowsOwnSize) {
  e2e::Xvfb server(640, 480);
  auto painter = e2e::paintWindow(server, 5, 6, 40, 30, 0x0000ff);
  auto capture = captureOn(server);
  auto content = capture->shareableContent();
  auto* window = windowOf(content, painter.id);
  ASSERT_TRUE(window);
  auto filter = capture->windowFilter(*window);
  EXPECT_EQ(filter.kind, platform::ContentFilter::Kind::window);
  EXPECT_EQ(filter.window.windowID, painter.id);
  EXPECT_EQ(filter.contentRect, (platform::Rect{0, 0, 40, 30}));
  EXPECT_EQ(filter.pointPixelScale, 1);
}

TEST(X11Listing, AServerThatRefusesUsMeansNotAllowed) {
  e2e::Xvfb server(320, 240, {"-auth", e2e::foreignAuthority()});
  setenv("XAUTHORITY", "/nonexistent", 1);
  auto capture = captureOn(server);
  EXPECT_FALSE(capture->allowed());
  capture->mainDisplayID();  // neither blocks nor crashes
  try {
    capture->shareableContent();
    ADD_FAILURE() << "listed through a refusing server";
  } catch (const platform::Error& error) {
    EXPECT_EQ(error.code, platform::userDeclined);
    EXPECT_NE(error.description.find("Authorization required"), std::string::npos) << error.description;
  }
  unsetenv("XAUTHORITY");
}

TEST(X11Listing, NoServerIsAllowedButCannotBeListed) {
  std::string display;
  {
    e2e::Xvfb gone(320, 240);
    display = gone.display();
  }
  setenv("DISPLAY", display.c_str(), 1);
  platform::X11Capture capture;
  EXPECT_TRUE(capture.allowed());
  EXPECT_EQ(capture.mainDisplayID(), 0u);
  try {
    capture.shareableContent();
    ADD_FAILURE() << "listed without a server";
  } catch (const platform::Error& error) {
    EXPECT_NE(error.code, platform::userDeclined);
    EXPECT_EQ(error.description, "cannot connect to the X server " + display + " (no server answers)");
  }
}

TEST(X11Listing, AnUnsetDisplayIsAllowedButCannotBeListed) {
  struct Case {
    const char* wayland;
    std::string description;
  } cases[] = {
      {nullptr, "no X server: DISPLAY is not set"},
      {"", "no X server: DISPLAY is not set"},
      {"wayland-0", "this is a Wayland session without an X server (DISPLAY is not set)"},
  };
  unsetenv("DISPLAY");
  for (auto& c : cases) {
    if (c.wayland)
      setenv("WAYLAND_DISPLAY", c.wayland, 1);
    else
      unsetenv("WAYLAND_DISPLAY");
    platform::X11Capture capture;
    EXPECT_TRUE(capture.allowed());
    try {
      capture.shareableContent();
      ADD_FAILURE() << "listed without a display";
    } catch (const platform::Error& error) {
      EXPECT_EQ(error.description, c.description);
    }
  }
  unsetenv("WAYLAND_DISPLAY");
}

}  // namespace
