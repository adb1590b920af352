// Finding the setup window among the application's Qt windows.
#pragma once

#include <QString>

namespace setup {

// Raises and activates the first visible top-level widget whose object name is `identifier` or
// whose window title is `title`, in the window system's order (creation order). A hidden or
// closed window is left alone. False when nothing matched or no QApplication runs.
bool bringQtWindowForward(const QString& identifier, const QString& title);

}  // namespace setup
