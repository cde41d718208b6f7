#include "app/QtTranslations.h"

#include "settings/Texts.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include <memory>

bool installQtTranslations()
{
    static std::unique_ptr<QTranslator> installed;
    if (installed) {
        QCoreApplication::removeTranslator(installed.get());
        installed.reset();
    }
    const QString language = Texts::language();
    if (language.startsWith(QLatin1String("en")))
        return true;
    // The built-in texts are Simplified Chinese.
    const QLocale locale = language == QLatin1String("zh")
                               ? QLocale(QLocale::Chinese, QLocale::SimplifiedChineseScript, QLocale::China)
                               : QLocale(language);
    auto translator = std::make_unique<QTranslator>();
    if (!translator->load(locale, QStringLiteral("qtbase"), QStringLiteral("_"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        return false;
    QCoreApplication::installTranslator(translator.get());
    installed = std::move(translator);
    return true;
}
