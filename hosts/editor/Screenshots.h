// Pictures of the editor for the documentation: the window alone, then the
// window with the dialog of each command open (cancelled afterwards).
#pragma once

#include <QString>

class QDialog;

namespace talvine::editor {

class EditorCore;
class MainWindow;

// The visible dialog of the module, if one is open.
QDialog* openDialog();

// Saves editor.png and command-N.png for each command with a dialog into
// `dir`.  False when a picture could not be written.
bool takeScreenshots(MainWindow& window, EditorCore& core, const QString& dir);

} // namespace talvine::editor
