// The macOS backend of the snapshot tool: the Accessibility API (ApplicationServices) with
// CoreFoundation values, and AppKit for the frontmost application and the screens.
//
// The Accessibility part is plain C++ on the C interfaces (platform-mac.cc); the two AppKit
// questions live in appkit-mac.mm, so that everything else also builds and runs against the
// stand-in of Apple's declarations in Linux test builds.
#pragma once

#include <CoreFoundation/CoreFoundation.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "ax/platform.h"
#include "common/cf-ref.h"

namespace ax {

// From NSWorkspace and NSScreen (appkit-mac.mm). Screens in the accessibility coordinate space:
// origin at the top-left corner of the first screen, y growing downwards.
std::optional<FrontmostApplication> workspaceFrontmostApplication();
// The running application with that process id, none when there is none.
std::optional<FrontmostApplication> workspaceApplication(int32_t pid);
std::vector<Rect> workspaceScreens();

class MacPlatform : public Platform {
 public:
  bool isProcessTrusted() override;
  bool isProcessTrustedWithPrompt() override;
  std::string notTrustedMessage() override;
  std::optional<FrontmostApplication> frontmostApplication() override;
  std::vector<Rect> screens() override;
  std::optional<FrontmostApplication> applicationWithPid(int32_t pid) override;
  std::optional<FrontmostApplication> applicationOfWindow(uint64_t window) override;
  Element windowElement(const Element& app, uint64_t window) override;
  Element createApplicationElement(int32_t pid) override;
  void setMessagingTimeout(const Element& app, float seconds) override;
  void setBooleanAttribute(const Element& element, const std::string& name, bool value) override;
  ReadResult copyAttributeValue(const Element& element, const std::string& name) override;
  BatchResult copyMultipleAttributeValues(const Element& element,
                                          const std::vector<std::string>& names) override;
  bool isEqual(const Element& a, const Element& b) override;
  int32_t performAction(const Element& element, Action action, const std::string& text) override;
  // Accessibility reads always ask the application.
  Element refreshed(const Element& element) override { return element; }
  void sleepFor(double seconds) override;
  double now() override;

 private:
  // Attribute names and name lists as CoreFoundation objects, each made once per run.
  CFStringRef name(const std::string& text);
  CFArrayRef names(const std::vector<std::string>& texts);

  std::map<std::string, mevrik::CFRef<CFStringRef>> names_;
  std::map<std::vector<std::string>, mevrik::CFRef<CFArrayRef>> lists_;
  // The window --window names, from the window server's list: its title and bounds.
  std::optional<std::pair<std::string, Rect>> targetWindow_;
};

}  // namespace ax
