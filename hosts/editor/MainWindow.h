// The editor's window: the canvas in a scroll area, the menus (file, edit,
// view, the module's "Géométrie" menu, help) and the status bar (what to do
// next, the picture's size, the zoom, the pointer's pixel).  It forwards
// input to EditorCore, redraws from it, and reads and writes picture files
// with their metadata.
#pragma once

#include "Canvas.h"
#include "EditorCore.h"
#include "Metadata.h"
#include "Suggestions.h"

#include <QHash>
#include <QImage>
#include <QMainWindow>
#include <QPointer>

#include <thread>

class QAction;
class QDialog;
class QLabel;
class QMenu;
class QScrollArea;

namespace talvine::editor {

Picture fromImage(const QImage& image);
QImage toImage(const Picture& picture);

class MainWindow : public QMainWindow {
    Q_OBJECT
  public:
    explicit MainWindow(EditorCore& core);
    ~MainWindow() override;

    // Opens a picture file, after asking what becomes of unsaved changes.
    // False (with a message box) when it cannot be read or the user kept the
    // picture shown.
    bool openFile(const QString& path);
    // Writes the picture to `path` (PNG or JPEG by its suffix) with the
    // metadata of the file it came from; `quality` 1 to 100 for a JPEG, or
    // 0 for the opened file's own (92 when it cannot be told).  Nothing is
    // replaced unless the whole file could be written.
    bool saveFile(const QString& path, int quality = 0);
    // Save: to the picture's file, or Save As when it has none.
    bool save();
    bool saveAs();
    void openSample();
    void fit();
    // Whether the zoom follows the window (after Fit, until zoomed by hand).
    bool fitted() const { return fitted_; }
    Canvas& canvas() { return *canvas_; }
    QMenu& geometryMenu() { return *geometry_; }
    // The menu entry of command n.
    QAction* commandAction(int n) const;
    QAction* undoAction() const { return undo_; }
    QAction* redoAction() const { return redo_; }
    QAction* saveAsAction() const { return saveAs_; }
    QAction* gridAction() const { return grid_; }
    QAction* linesAction() const { return lines_; }
    QAction* uprightAction() const { return upright_; }
    const Suggestions& suggestions() const { return suggestions_; }
    // Whether an analysis of the picture is still running on the worker.
    bool suggesting() const { return pending_; }
    // Pictures of at least this many pixels are analysed on a worker
    // thread, the window staying live; smaller ones at once.
    void setBackgroundPixels(int64_t pixels) { backgroundPixels_ = pixels; }
    // The pictures opened or saved last, newest first (QSettings).
    QStringList recentFiles() const;
    QMenu* recentMenu() const { return recent_; }
    // Crop to result after a tilt: the picture's proportions, or any.
    QAction* cropToResultAction(bool keepProportion) const {
        return keepProportion ? cropSame_ : cropAny_;
    }
    // The file the picture was opened from or saved to (empty for the sample).
    const QString& file() const { return file_; }
    // The JPEG quality a save keeps when none is chosen.
    int jpegQuality() const { return quality_ > 0 ? quality_ : 92; }
    // The name Save As proposes.
    QString proposedName() const;
    // The part of the picture that shows, in screen coordinates.
    QRect pictureOnScreen() const;

  protected:
    void closeEvent(QCloseEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;
    void dragEnterEvent(QDragEnterEvent* e) override;
    void dropEvent(QDropEvent* e) override;

  private:
    // Cancels the open command's dialog as its "Annuler" would; false when
    // none could be.
    bool cancelOpenDialog();
    void remember(const QString& path);
    void fillRecent();
    // Zooms by `factor` keeping the picture's point under `at` (viewport
    // coordinates) where it is.
    void zoomAt(QPointF at, double factor);
    // Asks what becomes of unsaved changes; false when the user cancels.
    bool maybeSave();
    void runCommand(int command);
    void watchDialog();
    void pictureChanged();
    void refresh();
    void about();
    void setZoomByHand(double zoom);
    // The module's dialogs open beside the picture, or where they cover
    // the least of it, and where the user last moved them.
    void placeDialog(QDialog* d);
    void rememberDialog(QDialog* d);
    EditorCore& core_;
    Canvas* canvas_ = nullptr;
    QScrollArea* scroll_ = nullptr;
    QMenu* geometry_ = nullptr;
    QList<QAction*> commands_;
    QAction* undo_ = nullptr;
    QAction* redo_ = nullptr;
    QAction* open_ = nullptr;
    QAction* save_ = nullptr;
    QAction* cropSame_ = nullptr;
    QAction* cropAny_ = nullptr;
    void cropToResult(bool keepProportion);
    QAction* saveAs_ = nullptr;
    QAction* grid_ = nullptr;    // View > Show grid, as the user set it
    QAction* lines_ = nullptr;   // View > Show detected lines
    QAction* upright_ = nullptr; // Edit > Upright
    Suggestions suggestions_;
    // The suggestions for the open tilt or perspective dialog, or the lines
    // alone for the picture shown: found now, or on the worker for a large
    // picture.
    void suggest();
    // An analysis is over: taken while it is still the one asked for.
    void suggested(Suggestions found, uint64_t ticket);
    std::thread worker_;
    uint64_t ticket_ = 0;            // the last analysis asked for
    uint64_t suggestedRevision_ = 0; // of the picture it analyses
    bool pending_ = false;
    int64_t backgroundPixels_ = 4'000'000;
    void upright();
    QMenu* recent_ = nullptr; // File > Open recent
    QLabel* status_ = nullptr;
    QLabel* size_ = nullptr;
    QLabel* zoomLabel_ = nullptr;
    QLabel* pointer_ = nullptr;
    QString file_;
    QString name_; // shown in the title
    hosts::PhotoMetadata metadata_;
    bool originalConfirmed_ = false; // the user agreed to write over the camera's file
    int quality_ = 0;                // of the opened JPEG, 0 when unknown
    bool fitted_ = true;
    QSize shown_;
    QList<QPointer<QDialog>> watched_;
    struct Placement {
        QPoint at;          // where it was put, or moved to
        bool moved = false; // by the user
    };
    QHash<QString, Placement> placed_;
};

} // namespace talvine::editor
