// The editor's own texts in the user's language: its catalogue (French, made
// from translations/talvine-editor_fr.ts and built into the program) and
// Qt's own for its standard dialogs and buttons.  The plug-in's menu and
// dialogs are the module's, French whatever the language.
#pragma once

#include <QLocale>

namespace talvine::editor {

// Installs the catalogues for `locale` in the running application, once;
// English, the texts' own language, needs none.  Returns whether the
// editor's catalogue was found for it.
bool installTranslations(const QLocale& locale);

} // namespace talvine::editor
