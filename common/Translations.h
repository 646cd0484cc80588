#pragma once

class QCoreApplication;

namespace Translations {

// Installs Qt's own Simplified-Chinese texts (box buttons, file choosers) on
// the application, whatever the user's locale: the whole interface is Chinese.
// Returns false, leaving Qt's English texts, when they are not installed.
bool installQtChinese(QCoreApplication *app);

} // namespace Translations
