// vantic-win's core on the macOS backend, with the Apple stand-in as the window server and
// accessibility API and a fake AppKit in this file.
#include <gtest/gtest.h>

#include "desktop/mac/frontmost.h"
#include "standin.h"
#include "win/platform-mac.h"
#include "win/win.h"

namespace win {
namespace mac {

int32_t gFrontmost = 0;
std::vector<int32_t> gActivated;

// The application comes forward with its windows, as AppKit brings it.
bool activateApplication(int32_t pid) {
  gActivated.push_back(pid);
  gFrontmost = pid;
  return true;
}

Launched openApplication(const std::string& id) {
  return Launched{0, true, "no application \"" + id + "\""};
}

}  // namespace mac
namespace {

standin::WindowInfo info(uint32_t number, int32_t pid, std::string owner, CGRect bounds,
                         std::string name, int32_t layer = 0) {
  return standin::WindowInfo{pid, layer, bounds, number, std::move(name), std::move(owner)};
}

class WinMacTest : public ::testing::Test {
 protected:
  void SetUp() override {
    standin::reset();
    mac::gFrontmost = 501;
    mac::gActivated.clear();
    standin::setWindows({
        info(3, 99, "Dock", {{0, 0}, {1440, 900}}, "Dock", 20),  // above the normal layer
        info(11, 501, "Terminal", {{10.5, 40}, {600, 400}}, "zsh"),
        info(12, 502, "TextEdit", {{0, 25}, {1000, 700}}, ""),
    });
    live_ = standin::liveReferences();
  }
  void TearDown() override { EXPECT_EQ(standin::liveReferences(), live_); }

  RunResult run(std::vector<std::string> args) {
    args.insert(args.begin(), "vantic-win");
    auto platform = createSystemPlatform(error_);
    return win::run(*platform, args);
  }

  std::string error_;
  int64_t live_ = 0;
};

TEST_F(WinMacTest, ListAndAtComeFromTheWindowServersNormalLayer) {
  EXPECT_EQ(run({"list"}).out,
            "{\"windows\":[{\"id\":11,\"app\":\"Terminal\",\"pid\":501,\"title\":\"zsh\",\"x\":10,"
            "\"y\":40,\"w\":601,\"h\":400,\"focused\":true,\"minimized\":false},{\"id\":12,\"app\":"
            "\"TextEdit\",\"pid\":502,\"title\":\"\",\"x\":0,\"y\":25,\"w\":1000,\"h\":700,"
            "\"focused\":false,\"minimized\":false}]}\n");
  EXPECT_NE(run({"at", "20", "50"}).out.find("\"id\":11"), std::string::npos);
  EXPECT_NE(run({"at", "900", "50"}).out.find("\"id\":12"), std::string::npos);
  EXPECT_EQ(run({"at", "5", "5"}).status, kNotFound);
}

TEST_F(WinMacTest, FocusActivatesTheApplicationAndRaisesTheWindowFoundByItsFrame) {
  // TextEdit's accessibility windows: another one first, then the listed one.
  const uint32_t app = standin::addElement(), other = standin::addElement(),
                 target = standin::addElement();
  standin::setApplication(app);
  standin::setActions(target, {"AXRaise"});
  auto point = [](double x, double y) {
    CGPoint p{x, y};
    return AXValueCreate(kAXValueTypeCGPoint, &p);
  };
  auto size = [](double w, double h) {
    CGSize s{w, h};
    return AXValueCreate(kAXValueTypeCGSize, &s);
  };
  const void* windows[] = {standin::createElement(other), standin::createElement(target)};
  CFArrayRef list = CFArrayCreate(nullptr, windows, 2, &kCFTypeArrayCallBacks);
  standin::setAttribute(app, "AXWindows", list);
  for (auto [element, y] : {std::pair{other, 300.0}, std::pair{target, 25.0}}) {
    CFTypeRef at = point(0, y), extent = size(1000, 700);
    standin::setAttribute(element, "AXPosition", at);
    standin::setAttribute(element, "AXSize", extent);
    CFRelease(at);
    CFRelease(extent);
  }
  CFRelease(windows[0]);
  CFRelease(windows[1]);
  CFRelease(list);
  // Activated, TextEdit's window comes first in the window server's list.
  standin::setWindows({info(12, 502, "TextEdit", {{0, 25}, {1000, 700}}, ""),
                       info(11, 501, "Terminal", {{10.5, 40}, {600, 400}}, "zsh")});
  live_ = standin::liveReferences();  // the world holds its own references

  const RunResult result = run({"focus", "--app", "textedit"});
  EXPECT_EQ(result.status, kDone) << result.out;
  EXPECT_NE(result.out.find("\"id\":12,\"app\":\"TextEdit\""), std::string::npos) << result.out;
  EXPECT_NE(result.out.find("\"focused\":true"), std::string::npos) << result.out;
  EXPECT_EQ(mac::gActivated, std::vector<int32_t>{502});
  EXPECT_EQ(standin::attributesSet(),
            (std::vector<std::string>{"AXMinimized=false", "perform AXRaise", "AXMain=true"}));
}

TEST_F(WinMacTest, UnknownWindowsAreNeitherFoundNorActivated) {
  auto platform = createSystemPlatform(error_);
  EXPECT_TRUE(platform->exists(11));
  EXPECT_FALSE(platform->exists(13));
  EXPECT_EQ(run({"focus", "13"}).status, kNotFound);
  EXPECT_EQ(run({"focus", "--pid", "99"}).status, kNotFound);  // the Dock has no normal window
  EXPECT_TRUE(mac::gActivated.empty());
}

}  // namespace
}  // namespace win

int32_t mevrik::desktop::mac::frontmostProcessId() {
  return win::mac::gFrontmost;
}
