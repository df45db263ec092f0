#pragma once
#include <QString>

namespace portflash {

// The help page: beside the executable, in the installed documentation, or (run
// from the build) in the sources. Empty when there is none.
QString FindHelpPage(const QString& appDir);

// Shows the help page in the desktop's browser; false, and nothing shown, when
// there is no page or nothing to show it with.
bool ShowHelpPage(const QString& appDir);

}  // namespace portflash
