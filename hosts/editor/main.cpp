// talvine-editor: the reference host.  Loads the plug-in module, shows its
// "Géométrie" menu and runs its commands on a picture.
//
//   talvine-editor [--module PATH] [PICTURE]
//   talvine-editor --print-module        (the module it would load)
//   talvine-editor --screenshots DIR     (saves the editor with each dialog open)
#include "EditorCore.h"
#include "MainWindow.h"
#include "Screenshots.h"

#include "platform/PartageMem.h"

#include "Translations.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>

#include <cstdio>
#include <memory>

#ifndef TALVINE_DEFAULT_MODULE
#define TALVINE_DEFAULT_MODULE "Talvine.so"
#endif
#ifndef TALVINE_INSTALLED_MODULE
#define TALVINE_INSTALLED_MODULE "../lib/talvine/Talvine.so"
#endif

namespace {

// The module installed beside this program when there is one, else the one
// of the build it was made in.
QString defaultModule() {
    const QString installed =
        QDir(QCoreApplication::applicationDirPath()).filePath(TALVINE_INSTALLED_MODULE);
    if (QFileInfo::exists(installed)) return QDir::cleanPath(installed);
    return TALVINE_DEFAULT_MODULE;
}

} // namespace

int main(int argc, char** argv) {
    int status = 0;
    {
        QApplication app(argc, argv);
        QApplication::setApplicationName("talvine-editor");
        QCommandLineParser parser;
        parser.setApplicationDescription("The Talvine reference editor");
        parser.addHelpOption();
        QCommandLineOption module("module", "The plug-in module to load.", "path", defaultModule());
        QCommandLineOption printModule("print-module", "Print the module it would load, and quit.");
        QCommandLineOption shots("screenshots", "Save the editor with each dialog open into dir.",
                                 "dir");
        parser.addOption(module);
        parser.addOption(shots);
        parser.addOption(printModule);
        parser.addPositionalArgument("picture", "A PNG or JPEG picture to open.");
        parser.process(app);
        // The screenshots in the documentation stay in English.
        if (!parser.isSet(shots)) talvine::editor::installTranslations(QLocale());
        if (parser.isSet(printModule)) {
            std::printf("%s\n", QFile::encodeName(parser.value(module)).constData());
            return 0;
        }

        std::unique_ptr<talvine::editor::EditorCore> core;
        try {
            core =
                std::make_unique<talvine::editor::EditorCore>(parser.value(module).toStdString());
        } catch (const std::exception& e) {
            QMessageBox::critical(nullptr, "Talvine editor", QString::fromStdString(e.what()));
            return 1;
        }
        {
            talvine::editor::MainWindow window(*core);
            window.show();
            const QStringList files = parser.positionalArguments();
            if (files.isEmpty() || !window.openFile(files.front())) window.openSample();
            if (parser.isSet(shots))
                status =
                    talvine::editor::takeScreenshots(window, *core, parser.value(shots)) ? 0 : 1;
            else
                status = QApplication::exec();
        }
        // The module goes (with its dialogs) while Qt is still running.
        core.reset();
    }
    talvine::platform::stopPartageMem();
    return status;
}
