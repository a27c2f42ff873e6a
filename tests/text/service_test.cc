#include "text/service.h"

#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/captured.h"
#include "text_fixture.h"

namespace {

using platform::Error;

class Service : public TextTest {
 protected:
  void SetUp() override {
    TextTest::SetUp();
    fake.preferred = {"de-CH", "en-GB"};
    fake.supported = {"en-US", "de-DE"};
  }

  struct Served {
    std::vector<std::string> lines;  // standard output, split at line feeds
    int code = -1;                   // exit code; -1 when not a normal exit
  };

  // Runs the whole service in a child process on `input`.
  Served serve(const std::string& input) {
    int in = memfd_create("input", 0);
    EXPECT_EQ(write(in, input.data(), input.size()), ssize_t(input.size()));
    lseek(in, 0, SEEK_SET);
    std::string text;
    Served served;
    {
      Captured output({STDOUT_FILENO});
      pid_t child = fork();
      if (child == 0) {
        dup2(in, STDIN_FILENO);
        serveText(fake, markerFile());
      }
      int status = 0;
      waitpid(child, &status, 0);
      if (WIFEXITED(status)) served.code = WEXITSTATUS(status);
      text = Captured::text(STDOUT_FILENO);
    }
    close(in);
    EXPECT_TRUE(text.empty() || text.back() == '\n') << text;
    for (size_t start = 0; start < text.size();) {
      size_t end = text.find('\n', start);
      served.lines.push_back(text.substr(start, end - start));
      start = end + 1;
    }
    return served;
  }

  const std::string preparing = R"({"preparing":true})";
  const std::string ready = R"({"ready":true,"language":"de-DE,en-US","max":16384})";
};

TEST_F(Service, AnswersEveryLineInOrder) {
  image("text.png", 1000, 500)->text = {
      platform::observation("Total: 42", {{{0, 6}, {0.1, 0.2, 0.3, 0.05}}, {{7, 9}, {0.5, 0.2, 0.1, 0.05}}})};
  image("blank.png");
  image("sub/~/x.png");
  const std::string total = R"({"lines":[[{"t":"Total:","r":[100.0,375.0,300.0,25.0]},)"
                            R"({"t":"42","r":[500.0,375.0,100.0,25.0]}]]})";
  const std::string badRequest = "{\"error\":\"a request is {\\\"path\\\": \xe2\x80\xa6}\"}";
  auto served = serve(
      "{\"path\":\"text.png\"}\n"
      "\n"
      "[\"text.png\"]\n"
      "\"text.png\"\n"
      "{\"file\":\"text.png\"}\n"
      "{\"path\":5}\n"
      "{\"path\":\"text.png\"\n"
      "{\"path\":\"missing.png\"}\n"
      "{\"path\":\"blank.png\",\"lines\":[],\"path2\":\"x\"}\n"
      "{\"path\":\"sub/~/x.png\"}\r\n"
      "{\"path\":\"bad\xff\xfe.png\"}\n"
      "{\"path\":\"text.png\"}");
  EXPECT_EQ(served.code, 0);
  EXPECT_EQ(served.lines, (std::vector<std::string>{
                              preparing,
                              ready,
                              total,
                              badRequest,
                              badRequest,
                              badRequest,
                              badRequest,
                              badRequest,
                              badRequest,
                              R"({"error":"cannot open missing.png"})",
                              R"({"lines":[]})",
                              R"({"lines":[]})",
                              "{\"error\":\"cannot open bad\xef\xbf\xbd\xef\xbf\xbd.png\"}",
                              total,
                          }));
}

TEST_F(Service, EndsAtOnceAtTheEndOfInput) {
  EXPECT_EQ(serve("").lines, (std::vector<std::string>{preparing, ready}));
  EXPECT_EQ(serve("").code, 0);
}

TEST_F(Service, AValidMarkerStartsAtTheFastLevel) {
  writeMarker(build + "\nstored\nreason");
  // Were the accurate level asked, its failure here would replace the reason.
  fake.sample->accurateError = Error{platform::recognitionFailed, "accurate failed now"};
  image("blank.png");
  image("broken.png")->fastError = Error{platform::recognitionFailed, "fast failed"};
  auto served = serve("{\"path\":\"blank.png\"}\n{\"path\":\"broken.png\"}\n{\"path\":\"none\"}\n");
  EXPECT_EQ(served.lines, (std::vector<std::string>{
                              preparing,
                              R"({"ready":true,"language":"de-DE,en-US","max":16384,"level":"fast","why":"stored\nreason"})",
                              R"({"lines":[],"level":"fast","why":"stored\nreason"})",
                              R"({"error":"fast failed"})",
                              R"({"error":"cannot open none"})",
                          }));
  EXPECT_EQ(markerText(), build + "\nstored\nreason");
}

TEST_F(Service, SelfTestSwitchesToTheFastLevelWhenOnlyItWorks) {
  fake.sample->accurateError = Error{platform::recognitionFailed, "accurate failed"};
  image("blank.png");
  auto served = serve("{\"path\":\"blank.png\"}\n");
  EXPECT_EQ(served.lines, (std::vector<std::string>{
                              preparing,
                              R"({"ready":true,"language":"de-DE,en-US","max":16384,"level":"fast","why":"accurate failed"})",
                              R"({"lines":[],"level":"fast","why":"accurate failed"})",
                          }));
  EXPECT_EQ(markerText(), build + "\naccurate failed");
}

TEST_F(Service, SelfTestFailureEndsTheService) {
  fake.sample->accurateError = Error{platform::recognitionFailed, "accurate failed"};
  fake.sample->fastError = Error{platform::recognitionFailed, "fast failed"};
  image("blank.png");
  auto served = serve("{\"path\":\"blank.png\"}\n");
  EXPECT_EQ(served.code, 0);
  EXPECT_EQ(served.lines,
            (std::vector<std::string>{
                preparing,
                R"x({"ready":false,"error":"macOS's text recognition does not read here (fast failed)"})x"}));
  EXPECT_EQ(markerText(), std::nullopt);
}

TEST_F(Service, WithoutASampleLineTheFirstRequestFindsTheLevel) {
  fake.sample = nullptr;
  auto broken = image("broken.png");
  broken->accurateError = Error{platform::recognitionFailed, "accurate failed"};
  auto served = serve("{\"path\":\"broken.png\"}\n");
  EXPECT_EQ(served.lines, (std::vector<std::string>{
                              preparing,
                              ready,
                              R"({"lines":[],"level":"fast","why":"accurate failed"})",
                          }));
}

}  // namespace
