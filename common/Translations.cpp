#include "Translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

namespace Translations {

bool installQtChinese(QCoreApplication *app)
{
    auto *translator = new QTranslator(app);
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    if (!translator->load(QStringLiteral("qtbase_zh_CN"), folder) ||
        !QCoreApplication::installTranslator(translator)) {
        qWarning("Translations: no qtbase_zh_CN in %s; Qt's own texts stay English", qPrintable(folder));
        delete translator;
        return false;
    }
    return true;
}

} // namespace Translations
