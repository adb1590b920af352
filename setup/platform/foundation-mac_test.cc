// The CoreFoundation part of the macOS services, on the Apple stand-in.
#include "setup/platform/foundation-mac.h"

#include <gtest/gtest.h>

#include "common/cf-ref.h"
#include "standin.h"

namespace setup::mac {
namespace {

using mevrik::CFRef;

class FoundationMac : public testing::Test {
 protected:
  void SetUp() override {
    standin::reset();
    live_ = standin::liveReferences();
  }
  // Every reference the code got was released.
  void TearDown() override { EXPECT_EQ(standin::liveReferences(), live_); }

  void storeRaw(const std::string& key, CFPropertyListRef value) {
    CFPreferencesSetAppValue(mevrik::cfString(key).get(), value, kCFPreferencesCurrentApplication);
  }

 private:
  int64_t live_ = 0;
};

TEST_F(FoundationMac, UserDefaultsReadAsTheirTypesAllow) {
  EXPECT_FALSE(boolDefault("didRequestAccessibilityOnFirstLaunch"));
  EXPECT_EQ(stringDefault("lastPresentedUpdateVersion"), std::nullopt);

  setBoolDefault("didRequestAccessibilityOnFirstLaunch", true);
  EXPECT_EQ(standin::preference("didRequestAccessibilityOnFirstLaunch"), kCFBooleanTrue);
  EXPECT_TRUE(boolDefault("didRequestAccessibilityOnFirstLaunch"));
  setStringDefault("lastPresentedUpdateVersion", "1.10.0 ß");
  EXPECT_EQ(stringDefault("lastPresentedUpdateVersion"), "1.10.0 ß");
  EXPECT_EQ(standin::preferenceSynchronizations(), 2);  // each write reaches the disk

  // Values of another type, as another program may have written them.
  const int64_t one = 1, zero = 0;
  CFRef<CFNumberRef> number(CFNumberCreate(nullptr, kCFNumberSInt64Type, &one));
  storeRaw("a", number.get());
  EXPECT_TRUE(boolDefault("a"));
  EXPECT_EQ(stringDefault("a"), std::nullopt);
  number = CFRef<CFNumberRef>(CFNumberCreate(nullptr, kCFNumberSInt64Type, &zero));
  storeRaw("a", number.get());
  EXPECT_FALSE(boolDefault("a"));
  storeRaw("b", mevrik::cfString("YES").get());
  EXPECT_FALSE(boolDefault("b"));
  standin::reset();
}

TEST_F(FoundationMac, BundleVersionAndResources) {
  EXPECT_EQ(bundleVersion(), std::nullopt);
  EXPECT_EQ(resourcesFolder(), std::nullopt);
  const double notText = 1.5;
  CFRef<CFNumberRef> number(CFNumberCreate(nullptr, kCFNumberDoubleType, &notText));
  standin::setInfoValue("CFBundleShortVersionString", number.get());
  EXPECT_EQ(bundleVersion(), std::nullopt);
  standin::setInfoValue("CFBundleShortVersionString", mevrik::cfString("0.1.0").get());
  EXPECT_EQ(bundleVersion(), "0.1.0");
  standin::setResourcesFolder("/Applications/Mevrik.app/Contents/Resources");
  EXPECT_EQ(resourcesFolder(), "/Applications/Mevrik.app/Contents/Resources");
  EXPECT_EQ(applicationSupportFolder("/Users/a"), "/Users/a/Library/Application Support");
  EXPECT_EQ(cachesFolder("/Users/a"), "/Users/a/Library/Caches");
  standin::reset();
}

TEST_F(FoundationMac, PermissionAndPrompt) {
  standin::setTrusted(false);
  EXPECT_FALSE(isAccessibilityTrusted());
  promptForAccessibility();
  EXPECT_EQ(standin::promptCount(), 1);
  standin::setTrusted(true);
  EXPECT_TRUE(isAccessibilityTrusted());
}

}  // namespace
}  // namespace setup::mac
