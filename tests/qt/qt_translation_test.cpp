// The editor in French: its own menus, status bar and boxes from its
// catalogue, the plug-in's menu exactly as the module gives it, and a
// catalogue with every text translated and its placeholders kept.
#include "EditorCore.h"
#include "MainWindow.h"
#include "Scene.h"
#include "Translations.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QMenuBar>
#include <QRegularExpression>
#include <QStatusBar>
#include <QTest>
#include <QXmlStreamReader>

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <set>

namespace talvine::editor {
namespace {

// Every action of the menu bar by its menu and position, with its text.
std::map<std::string, QString> menuTexts(MainWindow& w, QString* geometryTitle) {
    std::map<std::string, QString> texts;
    const auto menus = w.menuBar()->actions();
    for (int m = 0; m < menus.size(); ++m) {
        QMenu* menu = menus[m]->menu();
        if (!menu) continue;
        if (menu == &w.geometryMenu()) {
            *geometryTitle = menu->title();
            continue;
        }
        texts["menu " + std::to_string(m)] = menu->title();
        const auto actions = menu->actions();
        for (int a = 0; a < actions.size(); ++a)
            if (!actions[a]->isSeparator())
                texts["menu " + std::to_string(m) + " item " + std::to_string(a)] =
                    actions[a]->text();
    }
    return texts;
}

QString statusOf(MainWindow& w) {
    return w.statusBar()->findChild<QLabel*>("status")->text();
}

TEST(Translation, TheEditorSpeaksFrenchAndThePluginsMenuStaysAsTheModuleGivesIt) {
    EditorCore core(TALVINE_MODULE_PATH);
    const hosts::Picture scene = hosts::sampleScene();
    core.open({scene.width, scene.height, scene.rgb});
    ASSERT_FALSE(installTranslations(QLocale(QLocale::English, QLocale::UnitedKingdom)));
    QString englishGeometry, frenchGeometry;
    std::map<std::string, QString> english, french;
    {
        MainWindow w(core);
        english = menuTexts(w, &englishGeometry);
        EXPECT_EQ(statusOf(w), "Ready");
    }
    ASSERT_TRUE(installTranslations(QLocale(QLocale::French, QLocale::France)));
    {
        MainWindow w(core);
        w.show();
        french = menuTexts(w, &frenchGeometry);
        EXPECT_EQ(statusOf(w), QString::fromUtf8("Prêt"));
        // The tilt's picking hint, made of a form and the box and point it
        // names, each translated.
        w.commandAction(3)->trigger();
        ASSERT_TRUE(QTest::qWaitFor([&] { return core.busy(); }, 3000));
        EXPECT_EQ(statusOf(w),
                  QString::fromUtf8("Cliquez sur la case de gauche de la ligne dans la boîte de "
                                    "dialogue, puis sur un point à gauche de l’horizon dans "
                                    "l’image"));
        // Annuler, as a user would.
        QAbstractButton* annuler = nullptr;
        for (QWidget* top : QApplication::topLevelWidgets())
            if (top->objectName() == "InclineHorz" && top->isVisible())
                annuler = top->findChild<QAbstractButton*>("Annuler");
        ASSERT_NE(annuler, nullptr);
        QTest::mouseClick(annuler, Qt::LeftButton, {}, QPoint(6, annuler->height() / 2));
        ASSERT_TRUE(QTest::qWaitFor([&] { return !core.busy(); }, 3000));
        EXPECT_EQ(w.geometryMenu().title(), QString::fromUtf8("Géométrie"));
        for (int n = 1; n <= 9; ++n)
            EXPECT_EQ(w.commandAction(n)->text().remove(QChar(0x2026)),
                      QString::fromStdString(core.identity().captions[size_t(n) - 1]))
                << n;
    }
    EXPECT_EQ(frenchGeometry, englishGeometry);
    ASSERT_EQ(french.size(), english.size());
    EXPECT_GT(english.size(), 15u);
    for (const auto& [where, text] : english) {
        // File names in Open recent are no texts to translate.
        if (text.contains('/')) continue;
        EXPECT_NE(french[where], text) << where << ": " << text.toStdString();
    }
    EXPECT_EQ(french["menu 0"], "&Fichier");
    installTranslations(QLocale(QLocale::English));
}

TEST(Translation, TheCatalogueTranslatesEveryTextAndKeepsItsPlaceholders) {
    QFile file(TALVINE_SOURCE_DIR "/hosts/editor/translations/talvine-editor_fr.ts");
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    QXmlStreamReader xml(&file);
    int messages = 0;
    QString source;
    const QRegularExpression placeholder("%\\d");
    auto placeholders = [&](const QString& s) {
        std::multiset<QString> found;
        for (auto it = placeholder.globalMatch(s); it.hasNext();)
            found.insert(it.next().captured());
        return found;
    };
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement) continue;
        if (xml.name() == QLatin1String("source")) {
            source = xml.readElementText();
        } else if (xml.name() == QLatin1String("translation")) {
            const QString type = xml.attributes().value("type").toString();
            const QString text = xml.readElementText();
            ++messages;
            EXPECT_TRUE(type.isEmpty()) << type.toStdString() << ": " << source.toStdString();
            EXPECT_FALSE(text.isEmpty()) << source.toStdString();
            EXPECT_EQ(placeholders(text), placeholders(source)) << source.toStdString();
            EXPECT_FALSE(text.contains("..."))
                << "an ellipsis is one character: " << text.toStdString();
        }
    }
    EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString();
    EXPECT_GT(messages, 70);
}

} // namespace
} // namespace talvine::editor
