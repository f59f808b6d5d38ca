#pragma once

#include <QString>

class QCoreApplication;

namespace tavi {

// The interface's language: "zh" or "en". TAVI_LANG (zh or en) wins;
// else Chinese for a zh_* locale and English for every other.
QString interfaceLanguage();

// Installs the translations of that language on the application: ours (the
// Chinese texts are the source, so Chinese needs none) and Qt's own for its
// dialogs. A translation that is missing or does not load leaves the
// Chinese texts, never empty ones. Returns the language the texts are in.
QString installTranslations(QCoreApplication *application, const QString &ours = QStringLiteral(":/i18n/tavi_en.qm"));

} // namespace tavi
