#include "base/language.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace tavi {

QString interfaceLanguage()
{
    const QString asked = qEnvironmentVariable("TAVI_LANG").trimmed().toLower();
    if (asked == QLatin1String("zh") || asked == QLatin1String("en"))
        return asked;
    return QLocale::system().name().startsWith(QLatin1String("zh")) ? QStringLiteral("zh") : QStringLiteral("en");
}

QString installTranslations(QCoreApplication *application, const QString &ours)
{
    QString language = interfaceLanguage();
    if (language == QLatin1String("en")) {
        auto *translator = new QTranslator(application);
        // isEmpty: a file that loads but holds nothing is a damaged one.
        if (translator->load(ours) && !translator->isEmpty()) {
            QCoreApplication::installTranslator(translator);
        } else {
            delete translator;
            language = QStringLiteral("zh");
        }
    }
    // Qt's own texts (file dialog, message box buttons) are English unless translated.
    if (language == QLatin1String("zh")) {
        auto *qt = new QTranslator(application);
        if (qt->load(QStringLiteral("qtbase_zh_CN"), QLibraryInfo::location(QLibraryInfo::TranslationsPath)))
            QCoreApplication::installTranslator(qt);
        else
            delete qt;
    }
    return language;
}

} // namespace tavi
