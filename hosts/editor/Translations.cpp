#include "Translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

namespace talvine::editor {

bool installTranslations(const QLocale& locale) {
    // Owned by the application from here on, and replaced by a second call.
    static QTranslator* editor = nullptr;
    static QTranslator* qt = nullptr;
    for (QTranslator** t : {&editor, &qt})
        if (*t) {
            QCoreApplication::removeTranslator(*t);
            delete *t;
            *t = nullptr;
        }
    qt = new QTranslator(QCoreApplication::instance());
    if (qt->load(locale, "qtbase", "_", QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(qt);
    editor = new QTranslator(QCoreApplication::instance());
    const bool found = editor->load(locale, "talvine-editor", "_", ":/i18n");
    if (found) QCoreApplication::installTranslator(editor);
    return found;
}

} // namespace talvine::editor
