// The fake recognizer, and the marker file's place in a fresh folder.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/fake/fake_text.h"
#include "text/service.h"

class TextTest : public testing::Test {
 protected:
  TextTest() {
    char name[] = "/tmp/pellix-text-XXXXXX";
    folder = mkdtemp(name);
    marker = folder / "caches" / "pellix-capture" / "accurate-text-failed";
  }
  ~TextTest() override { std::filesystem::remove_all(folder); }

  // The marker as the service keeps it.
  Marker markerFile() const { return {marker, build}; }

  std::shared_ptr<platform::FakeImage> image(const std::string& path, size_t width = 100, size_t height = 50) {
    auto made = std::make_shared<platform::FakeImage>(path, width, height);
    fake.files[path] = made;
    return made;
  }

  void writeMarker(const std::string& text) {
    std::filesystem::create_directories(marker.parent_path());
    std::ofstream(marker, std::ios::binary) << text;
  }

  std::optional<std::string> markerText() {
    std::ifstream file(marker, std::ios::binary);
    if (!file) return std::nullopt;
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
  }

  platform::FakeTextRecognition fake;
  std::filesystem::path folder, marker;
  const std::string build = "Test OS 1 (test) 6.1.0-test";
};
