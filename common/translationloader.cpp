#include "translationloader.h"

#include <QCoreApplication>
#include <QLocale>
#include <QStringList>
#include <QTranslator>

bool installGlintorTranslation(QTranslator &translator)
{
    const QLocale locales[] = { QLocale(QLocale::Chinese, QLocale::China), QLocale() };
    const QStringList directories = { QStringLiteral(":/translations"), QStringLiteral("./translations"),
                                      QStringLiteral("/usr/share/glintor/translations") };
    for (const QLocale &locale : locales) {
        for (const QString &directory : directories) {
            if (translator.load(locale, QStringLiteral("glintor"), QStringLiteral("_"), directory)) {
                QCoreApplication::installTranslator(&translator);
                return true;
            }
        }
    }
    return false;
}

