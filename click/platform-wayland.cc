// The system backend of vantic-click-wayland: the compositor family of the session picks it.
#include "click/platform-wayland.h"

#include "desktop/session.h"

namespace click {

std::unique_ptr<Platform> createSystemPlatform(std::string& error) {
  using mevrik::desktop::Session;
  const Session session = mevrik::desktop::detectSession();
  if (session == Session::kWlroots) return createWlrootsPlatform(error);
  if (session == Session::kKde) return createKwinPlatform(error);
  if (session == Session::kGnome) return createGnomePlatform(error);
  error =
      mevrik::desktop::refusal(session, "vantic-click", "no pointer backend serves this compositor",
                               "no pointer action was performed");
  return nullptr;
}

}  // namespace click
