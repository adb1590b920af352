// The permission to post Quartz events, which vantic-click and vantic-type both need: without
// it the window server drops every event without a word, and a tool would report an action that
// never happened.
#pragma once

#include <CoreGraphics/CoreGraphics.h>

#include <string>

namespace click {

// Whether this process may post events. When it may not, asks the system to list its
// responsible application (the terminal) under Accessibility, with the system's prompt the first
// time, and sets `error` to the line that tells the user what to allow. A grant holds for
// processes started after it.
inline bool mayPostEvents(std::string& error) {
  if (CGPreflightPostEventAccess()) return true;
  CGRequestPostEventAccess();
  error =
      "posting events not allowed (without it the system drops every event): allow this terminal "
      "app in System Settings > Privacy & Security > Accessibility, then quit and reopen it";
  return false;
}

}  // namespace click
