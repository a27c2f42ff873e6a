// The ocr service through the real binary, reading with Tesseract images that
// ImageMagick renders.
#include <signal.h>
#include <sys/stat.h>
#include <stdlib.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "harness.h"
#include "text/marker.h"

namespace {

using nlohmann::json;
namespace fs = std::filesystem;

class Text : public testing::Test {
 protected:
  void SetUp() override {
    char name[] = "/tmp/pellix-ocr-XXXXXX";
    folder = mkdtemp(name);
    // A cache folder of our own keeps the user's marker out; English is the
    // only language installed, and British English asks for it.
    environment = {{"XDG_CACHE_HOME", (folder / "cache").string()},
                   {"LANGUAGE", ""},
                   {"LC_ALL", ""},
                   {"LC_MESSAGES", ""},
                   {"LANG", "en_GB.UTF-8"}};
  }
  void TearDown() override { fs::remove_all(folder); }

  // Runs ImageMagick's convert; returns what it printed.
  std::string convert(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), "convert");
    e2e::Child child(arguments);
    child.closeIn();
    auto ending = child.wait();
    EXPECT_EQ(ending.code, 0) << ending.err;
    return ending.out;
  }

  struct Word {
    std::string text;
    int x, y;  // where its baseline starts
  };
  // The ink box of `word` drawn alone: x, y, width, height.
  std::vector<double> inkBox(const Word& word, const std::string& size) {
    auto info = convert({"-size", size, "xc:white", "-font", "DejaVu-Sans", "-pointsize", "32", "-annotate",
                         "+" + std::to_string(word.x) + "+" + std::to_string(word.y), word.text, "-trim",
                         "-format", "%w %h %X %Y", "info:"});
    double w, h, x, y;
    EXPECT_EQ(sscanf(info.c_str(), "%lf %lf %lf %lf", &w, &h, &x, &y), 4) << info;
    return {x, y, w, h};
  }
  fs::path render(const std::string& name, const std::vector<Word>& words, const std::string& size) {
    std::vector<std::string> arguments{"-size", size, "xc:white", "-font", "DejaVu-Sans", "-pointsize", "32"};
    for (auto& word : words)
      arguments.insert(arguments.end(),
                       {"-annotate", "+" + std::to_string(word.x) + "+" + std::to_string(word.y), word.text});
    fs::path path = folder / name;
    arguments.push_back(path.string());
    convert(arguments);
    return path;
  }

  // A grey PGM, `width` x `height`, white but for `top` pasted at the left.
  fs::path pgm(const std::string& name, size_t width, size_t height, const fs::path& top = {}) {
    std::string pixels(width * height, '\xff');
    if (!top.empty()) {
      std::ifstream file(top, std::ios::binary);
      std::string magic;
      size_t w, h, depth;
      file >> magic >> w >> h >> depth;
      file.get();
      std::string small((std::istreambuf_iterator<char>(file)), {});
      for (size_t row = 0; row < std::min(h, height); row++)
        std::copy_n(small.begin() + long(row * w), std::min(w, width), pixels.begin() + long(row * width));
    }
    fs::path path = folder / name;
    std::ofstream(path, std::ios::binary) << "P5\n" << width << " " << height << "\n255\n" << pixels;
    return path;
  }

  static std::string request(const fs::path& path) { return json{{"path", path.string()}}.dump() + "\n"; }

  fs::path folder;
  e2e::Environment environment;
};

// The words of every line, and their boxes, of one answer.
std::vector<std::pair<std::string, std::vector<double>>> words(const json& answer) {
  std::vector<std::pair<std::string, std::vector<double>>> all;
  for (auto& line : answer.at("lines"))
    for (auto& word : line) all.emplace_back(word.at("t"), word.at("r").get<std::vector<double>>());
  return all;
}

TEST_F(Text, ReadsWordsWithTheirBoxes) {
  const std::string size = "900x220";
  std::vector<Word> placed{{"Total:", 40, 70}, {"42", 160, 70}, {"Pellix", 40, 170},
                           {"reads", 160, 170}, {"screens", 270, 170}};
  auto image = render("words.png", placed, size);
  auto ending = e2e::run({"ocr"}, environment, request(image));
  EXPECT_TRUE(ending.exited);
  EXPECT_EQ(ending.code, 0);
  EXPECT_EQ(ending.err, "");

  std::istringstream out(ending.out);
  std::string preparing, ready, answer;
  std::getline(out, preparing);
  std::getline(out, ready);
  std::getline(out, answer);
  EXPECT_EQ(preparing, R"({"preparing":true})");
  EXPECT_EQ(ready, R"({"ready":true,"language":"en-US","max":16384})");
  auto lines = json::parse(answer);
  ASSERT_EQ(lines.at("lines").size(), 2u) << answer;
  auto found = words(lines);
  ASSERT_EQ(found.size(), placed.size()) << answer;
  for (size_t i = 0; i < placed.size(); i++) {
    EXPECT_EQ(found[i].first, placed[i].text);
    auto ink = inkBox(placed[i], size);
    for (size_t k = 0; k < 4; k++) EXPECT_NEAR(found[i].second[k], ink[k], 3) << placed[i].text << " " << k;
  }
}

TEST_F(Text, FailedRequestsAreAnswersAndTheServiceGoesOn) {
  auto text = render("text.png", {{"Hello", 20, 50}}, "300x80");
  auto notAnImage = folder / "notes.txt";
  std::ofstream(notAnImage) << "not an image\n";
  // Fifty thousand pixels square: more than decoding may take.
  auto huge = folder / "huge.pgm";
  std::ofstream(huge, std::ios::binary) << "P5\n50000 50000\n255\n";
  auto tooWide = pgm("wide.pgm", 40000, 8);
  auto blank = pgm("blank.pgm", 64, 64);
  // A relative path names a file in the working directory.
  auto relative = "pellix-ocr-" + std::to_string(getpid()) + ".png";
  fs::copy_file(text, relative);

  // Everything is sent at once, before the ready line; the last line has no
  // line feed and one ends with a carriage return.
  std::string input = request(folder / "missing.png") + request(notAnImage) + request(huge) + request(tooWide) +
                      request(blank) + "{\"path\":\"" + relative + "\"}\r\n" + "{\"path\":\"~/x.png\"}\n" +
                      request(text);
  input.pop_back();
  auto ending = e2e::run({"ocr"}, environment, input);
  fs::remove(relative);
  EXPECT_EQ(ending.code, 0);
  EXPECT_EQ(ending.err, "");

  std::vector<json> answers;
  std::istringstream out(ending.out);
  for (std::string line; std::getline(out, line);) answers.push_back(json::parse(line));
  ASSERT_EQ(answers.size(), 10u) << ending.out;
  EXPECT_EQ(answers[2], json({{"error", "cannot open " + (folder / "missing.png").string()}}));
  EXPECT_EQ(answers[3], json({{"error", "cannot open " + notAnImage.string()}}));
  EXPECT_EQ(answers[4], json({{"error", "cannot open " + huge.string()}}));
  // Too large for the engine at either level: an error, and no switch to fast.
  ASSERT_EQ(answers[5].size(), 1u) << answers[5];
  EXPECT_EQ(answers[5]["error"], "the image is too large to read: 40000\u00d78 pixels, at most 32767 on a side");
  EXPECT_EQ(answers[6], json({{"lines", json::array()}}));
  EXPECT_EQ(answers[7]["lines"][0][0]["t"], "Hello") << answers[7];
  EXPECT_EQ(answers[8], json({{"error", "cannot open ~/x.png"}}));
  EXPECT_EQ(answers[9]["lines"][0][0]["t"], "Hello") << answers[9];
  EXPECT_FALSE(answers[9].contains("level"));
}

TEST_F(Text, BrokenImagesAreAnsweredWithoutAWordOnStandardError) {
  auto text = render("text.png", {{"Hello", 20, 50}}, "300x80");
  convert({text.string(), (folder / "text.jpg").string()});
  convert({text.string(), (folder / "text.tif").string()});
  auto bytes = [&](const std::string& name) {
    std::ifstream file(folder / name, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(file)), {});
  };
  std::string png = bytes("text.png"), jpeg = bytes("text.jpg"), tiff = bytes("text.tif");
  size_t scan = jpeg.find("\xff\xda");
  ASSERT_NE(scan, std::string::npos);
  // Each is refused by the library that decodes it, which would say why on
  // standard error.
  struct Case {
    std::string name, bytes;
  } cases[] = {
      {"truncated.png", png.substr(0, png.size() / 2)},
      {"broken-body.jpg", jpeg.substr(0, scan + 20)},
      {"no-scan.jpg", jpeg.substr(0, scan) + "\xff\xd9"},
      {"no-image.jpg", "\xff\xd8\xff\xd9"},
      {"truncated.tif", tiff.substr(0, tiff.size() / 2)},
  };
  std::string input;
  for (auto& c : cases) {
    std::ofstream(folder / c.name, std::ios::binary) << c.bytes;
    input += request(folder / c.name);
  }
  auto ending = e2e::run({"ocr"}, environment, input + request(text));
  EXPECT_EQ(ending.code, 0);
  EXPECT_EQ(ending.err, "");
  std::istringstream out(ending.out);
  std::string line;
  for (int i = 0; i < 2; i++) std::getline(out, line);
  for (auto& c : cases) {
    std::getline(out, line);
    EXPECT_EQ(line, json({{"error", "cannot open " + (folder / c.name).string()}}).dump());
  }
  std::getline(out, line);
  EXPECT_EQ(json::parse(line)["lines"][0][0]["t"], "Hello") << line;
}

TEST_F(Text, OnlyRegularFilesAreOpened) {
  // Opening a named pipe that nobody writes to would wait for good.
  auto pipe = folder / "pipe";
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  e2e::Child service(e2e::tool({"ocr"}), environment);
  std::string input = request(pipe) + request(pgm("blank.pgm", 64, 64));
  ASSERT_EQ(write(service.in(), input.data(), input.size()), ssize_t(input.size()));
  service.closeIn();
  auto ending = service.wait(std::chrono::seconds(5));
  EXPECT_TRUE(ending.exited);
  EXPECT_EQ(ending.out.substr(ending.out.find("\n{\"error") + 1),
            "{\"error\":\"cannot open " + pipe.string() + "\"}\n{\"lines\":[]}\n");
}

TEST_F(Text, AWideImageIsReadAtTheAccurateLevel) {
  // Twice its width would pass the engine's limit: the upscale is capped.
  auto words = folder / "words.pgm";
  convert({"-size", "700x60", "xc:white", "-font", "DejaVu-Sans", "-pointsize", "32", "-annotate", "+10+45",
           "Wide screens too", "-depth", "8", words.string()});
  auto wide = pgm("wide.pgm", 20000, 60, words);
  auto ending = e2e::run({"ocr"}, environment, request(wide));
  std::istringstream out(ending.out);
  std::string line;
  for (int i = 0; i < 3; i++) std::getline(out, line);
  auto answer = json::parse(line);
  EXPECT_FALSE(answer.contains("level")) << answer;
  std::vector<std::string> read;
  for (auto& [text, box] : ::words(answer)) read.push_back(text);
  EXPECT_EQ(read, (std::vector<std::string>{"Wide", "screens", "too"})) << answer;
}

TEST_F(Text, AMarkerFromThisSystemStartsAtTheFastLevel) {
  fs::create_directories(folder / "cache" / "pellix-capture");
  std::ofstream(folder / "cache" / "pellix-capture" / "accurate-text-failed", std::ios::binary)
      << thisSystemsMarker().build << "\nthe accurate level\nfailed";
  auto blank = pgm("blank.pgm", 64, 64);
  auto ending = e2e::run({"ocr"}, environment, request(blank));
  EXPECT_EQ(ending.out,
            "{\"preparing\":true}\n"
            "{\"ready\":true,\"language\":\"en-US\",\"max\":16384,\"level\":\"fast\",\"why\":\"the accurate level\\nfailed\"}\n"
            "{\"lines\":[],\"level\":\"fast\",\"why\":\"the accurate level\\nfailed\"}\n");
}

TEST_F(Text, ChoosesLanguagesFromTheLocaleAmongTheInstalledData) {
  // English data under a second name stands in for German.
  auto tessdata = folder / "tessdata";
  fs::create_directories(tessdata);
  for (auto name : {"eng", "deu", "osd"})
    fs::create_symlink("/usr/share/tesseract-ocr/5/tessdata/eng.traineddata",
                       tessdata / (std::string(name) + ".traineddata"));
  struct Case {
    e2e::Environment locale;
    std::string language;
  } cases[] = {
      {{{"LANG", "de_CH.UTF-8"}}, "de-DE"},
      {{{"LANGUAGE", "fr:de_AT@euro:en"}, {"LANG", "C"}}, "de-DE,en-US"},
      {{{"LC_ALL", "en_US.UTF-8"}, {"LC_MESSAGES", "de_DE"}}, "en-US"},
      {{{"LC_MESSAGES", "de_DE"}, {"LANG", "en_US"}}, "de-DE"},
      {{{"LC_ALL", "C"}, {"LANG", "de_DE"}}, "en-US"},
      {{{"LANG", "POSIX"}}, "en-US"},
  };
  for (auto& c : cases) {
    auto run = environment;
    run["TESSDATA_PREFIX"] = tessdata.string();
    run["LANG"] = "";
    for (auto& [name, value] : c.locale) run[name] = value;
    auto ending = e2e::run({"ocr"}, run);
    EXPECT_EQ(ending.out, "{\"preparing\":true}\n{\"ready\":true,\"language\":\"" + c.language +
                              "\",\"max\":16384}\n")
        << testing::PrintToString(c.locale);
  }
}

TEST_F(Text, WithoutLanguageDataTheServiceIsNotReady) {
  fs::create_directories(folder / "tessdata");
  auto tessdata = environment;
  tessdata["TESSDATA_PREFIX"] = (folder / "tessdata").string();
  auto ending = e2e::run({"ocr"}, tessdata, request(pgm("blank.pgm", 64, 64)));
  EXPECT_TRUE(ending.exited);
  EXPECT_EQ(ending.code, 0);
  EXPECT_EQ(ending.out,
            "{\"preparing\":true}\n"
            "{\"ready\":false,\"error\":\"macOS's text recognition does not read here "
            "(Tesseract cannot load its data for eng)\"}\n");
  EXPECT_EQ(ending.err, "");
}

TEST_F(Text, RunsWithOneOpenMPThreadAndDiesBySigterm) {
  e2e::Child service(e2e::tool({"ocr"}), environment);
  ASSERT_EQ(service.readLine(), R"({"preparing":true})");
  ASSERT_TRUE(service.readLine());
  // Tesseract is several times slower with more threads than cores.
  std::ifstream environ("/proc/" + std::to_string(service.pid()) + "/environ", std::ios::binary);
  std::string variables = '\0' + std::string((std::istreambuf_iterator<char>(environ)), {});
  EXPECT_NE(variables.find(std::string("\0OMP_THREAD_LIMIT=1\0", 20)), std::string::npos);

  service.signal(SIGTERM);
  auto ending = service.wait();
  EXPECT_FALSE(ending.exited);
  EXPECT_EQ(ending.code, SIGTERM);
}

TEST_F(Text, AClosedOutputEndsTheServiceWithZero) {
  e2e::Child service(e2e::tool({"ocr"}), environment);
  ASSERT_TRUE(service.readLine());
  ASSERT_TRUE(service.readLine());
  service.closeOut();
  std::string line = request(pgm("blank.pgm", 64, 64));
  ASSERT_EQ(write(service.in(), line.data(), line.size()), ssize_t(line.size()));
  auto ending = service.wait();
  EXPECT_TRUE(ending.exited);
  EXPECT_EQ(ending.code, 0);
  EXPECT_EQ(ending.err, "");
}

}  // namespace
