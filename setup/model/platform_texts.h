// The user-interface texts that differ between platforms, in one table. On macOS, step 1 grants
// this application the Accessibility permission in System Settings; on a Linux desktop there is
// no per-application permission, only the desktop's own accessibility switch, which Mevrik turns
// on itself after asking.
#pragma once

#include <QString>

namespace setup {

struct PlatformTexts {
  // Step 1's card: title, explanation, button.
  const char* accessibilityTitle;
  const char* accessibilityDetail;
  const char* accessibilityButton;
  // The status line after step 1's button: the instruction (macOS), or what was switched on
  // (Linux), followed there by one of the three sentences below.
  const char* accessibilityRequested;
  // Linux only: the applications that were running before and must be restarted to be seen
  // ("%1" is their names), none, or names unknown (no window list on this session).
  const char* restartApplications;
  const char* restartNone;
  const char* restartUnknown;
  // Linux only: the switch did not take (no accessibility bus on this session).
  const char* accessibilityFailed;
  // Linux only: the question of the first launch before a desktop-wide setting is switched.
  const char* consentTitle;
  const char* consentText;
  const char* consentDetail;
  const char* consentAccept;
  const char* consentDecline;
  // Linux only: step 1 installed GNOME Shell's extension, which runs from the next login.
  const char* logInAgain;
};

// The table of the platform this program was built for.
const PlatformTexts& platformTexts();
// Both rows, for tests and screenshots.
const PlatformTexts& macTexts();
const PlatformTexts& linuxTexts();

// A text of the table as a QString (the table holds UTF-8).
inline QString text(const char* utf8) {
  return QString::fromUtf8(utf8);
}

}  // namespace setup
