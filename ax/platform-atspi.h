// The snapshot platform on Linux: AT-SPI2 over D-Bus for the interface tree, X11 for the active
// window, its properties and the primary monitor.
//
// Requests to an application go out as asynchronous D-Bus calls, each with the messaging timeout,
// and the calls one batched read needs are in flight together; an element keeps what its reads
// already fetched, so the detail read after the base read asks only for what is new. See
// platform-atspi.cc for how each attribute is answered.
#pragma once

#include <memory>

#include "ax/platform.h"

namespace ax {

class AtspiPlatform : public Platform {
 public:
  AtspiPlatform();
  ~AtspiPlatform() override;
  AtspiPlatform(const AtspiPlatform&) = delete;
  AtspiPlatform& operator=(const AtspiPlatform&) = delete;

  bool isProcessTrusted() override;
  bool isProcessTrustedWithPrompt() override;
  std::string notTrustedMessage() override;
  std::optional<FrontmostApplication> frontmostApplication() override;
  std::vector<Rect> screens() override;
  Element createApplicationElement(int32_t pid) override;
  void setMessagingTimeout(const Element& app, float seconds) override;
  void setBooleanAttribute(const Element& element, const std::string& name, bool value) override;
  ReadResult copyAttributeValue(const Element& element, const std::string& name) override;
  BatchResult copyMultipleAttributeValues(const Element& element,
                                          const std::vector<std::string>& names) override;
  bool isEqual(const Element& a, const Element& b) override;
  void sleepFor(double seconds) override;
  double now() override;

  class Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace ax
