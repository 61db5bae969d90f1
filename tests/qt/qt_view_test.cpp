// The Qt view both ways: what a user does on the widgets reaches the model
// through the same calls the automation makes, and what the model changes
// shows in the widgets without coming back as input.
#include "core/ExtendedPrecision.h"
#include "plugin/ViewChoice.h"
#include "toolkit/Application.h"
#include "toolkit/BarreCurseur.h"
#include "toolkit/Form.h"
#include "toolkit/UtilPlus.h"
#include "views/qt/QtView.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

#include <map>

namespace talvine {
namespace {

using K = tk::ControlKind;

tk::FormDesc sampleForm() {
    return {
        .name = "Essai",
        .caption = "Essai de vue",
        .clientWidth = 320,
        .clientHeight = 240,
        .stayOnTop = true,
        .controls = {
            {.kind = K::GroupBox, .name = "Boite", .caption = " Choix ", .bounds = {8, 8, 150, 70}},
            {.kind = K::RadioButton,
             .name = "Un",
             .parent = "Boite",
             .caption = "Un",
             .bounds = {10, 20, 60, 17},
             .checked = true},
            {.kind = K::RadioButton,
             .name = "Deux",
             .parent = "Boite",
             .caption = "Deux",
             .bounds = {10, 42, 60, 17}},
            {.kind = K::CheckBox, .name = "Coche", .caption = "Coche", .bounds = {170, 8, 100, 17}},
            {.kind = K::RadioGroup,
             .name = "Format",
             .caption = " Format ",
             .bounds = {170, 30, 140, 80},
             .items = {"Libre", "2/3", "3/4"},
             .value = 0},
            {.kind = K::Label, .name = "Titre", .caption = "Largeur", .bounds = {8, 90, 60, 13}},
            {.kind = K::EditVal, .name = "Valeur", .bounds = {70, 86, 60, 21}},
            {.kind = K::SpinEdit,
             .name = "Pas",
             .bounds = {140, 86, 60, 21},
             .min = 0,
             .max = 100,
             .value = 10,
             .step = 5},
            {.kind = K::BarreCurseur,
             .name = "Taux",
             .bounds = {8, 120, 300, 30},
             .min = -10,
             .max = 10,
             .value = 0},
            // Declared after the check box it lies under.
            {.kind = K::Image, .name = "Apercu", .bounds = {160, 0, 150, 28}},
            {.kind = K::Timer, .name = "Horloge", .enabled = false, .interval = 10},
            {.kind = K::BitBtn,
             .name = "Appliquer",
             .caption = "Appliquer",
             .bounds = {150, 200, 75, 25},
             .buttonKind = tk::ButtonKind::Ok},
            {.kind = K::BitBtn,
             .name = "Annuler",
             .bounds = {235, 200, 75, 25},
             .buttonKind = tk::ButtonKind::Cancel},
        }};
}

// Counts the events each control raised, by control name and kind.
class SampleForm : public tk::Form {
  public:
    explicit SampleForm(tk::Application& app) : tk::Form(app, sampleForm()) {
        auto count = [this](tk::Event& e) {
            ++events[e.sender->name() + "/" + std::to_string(static_cast<int>(e.kind))];
            settings = floatingPointState();
        };
        using E = tk::EventKind;
        for (const char* name : {"Un", "Deux", "Coche", "Format", "Appliquer", "Annuler"})
            bind(name, E::Click, count);
        for (const char* name : {"Valeur", "Pas", "Taux"})
            bind(name, E::Change, count);
        bind("Taux", E::MouseUp, count);
        bind("Horloge", E::Timer, count);
        bind(E::Close, count);
    }
    std::map<std::string, int> events;
    FloatingPointState settings{}; // those the last handler ran with
    int count(const std::string& name, tk::EventKind kind = tk::EventKind::Click) const {
        auto it = events.find(name + "/" + std::to_string(static_cast<int>(kind)));
        return it == events.end() ? 0 : it->second;
    }
};

// A click on the indicator of a check box or radio button (only the indicator
// and the text take clicks).
void clickIndicator(QAbstractButton* b) {
    QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(6, b->height() / 2));
}

class QtViewTest : public testing::Test {
  protected:
    QtViewTest() {
        auto view = std::make_unique<views::QtView>(app);
        qt = view.get();
        app.setBackend(std::move(view));
        form = &app.createForm<SampleForm>();
    }
    template <class W> W* widget(const char* name) {
        return qobject_cast<W*>(qt->widget(form->control(name)));
    }
    QDialog* window() { return qt->window(*form); }
    void showModeless() {
        form->show();
        ASSERT_NE(window(), nullptr);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window()));
    }

    tk::Application app;
    views::QtView* qt = nullptr;
    SampleForm* form = nullptr;
};

TEST_F(QtViewTest, FormShowsAsDialogWithItsCaptionSizeControlsAndBounds) {
    EXPECT_EQ(qt->window(*form), nullptr) << "built on first show";
    showModeless();
    QDialog* w = window();
    EXPECT_EQ(w->windowTitle(), "Essai de vue");
    EXPECT_EQ(w->size(), QSize(320, 240));
    EXPECT_TRUE(w->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_TRUE(w->isVisible());

    auto* box = widget<QGroupBox>("Boite");
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->title(), " Choix ");
    auto* deux = widget<QRadioButton>("Deux");
    ASSERT_NE(deux, nullptr);
    EXPECT_EQ(deux->parentWidget(), box) << "children sit in their group box";
    EXPECT_EQ(deux->geometry(), QRect(10, 42, 60, 17));
    EXPECT_EQ(widget<QLabel>("Titre")->text(), "Largeur");
    EXPECT_EQ(widget<QPushButton>("Annuler")->text(), "Annuler");
    EXPECT_EQ(widget<QPushButton>("Appliquer")->geometry(), QRect(150, 200, 75, 25));
    auto* format = widget<QGroupBox>("Format");
    const auto items = format->findChildren<QRadioButton*>();
    ASSERT_EQ(items.size(), 3);
    EXPECT_EQ(items[1]->text(), "2/3");
    EXPECT_TRUE(items[0]->isChecked());
    EXPECT_EQ(widget<QSlider>("Taux")->minimum(), -10);
    EXPECT_EQ(qt->widget(form->control("Pas"))->findChild<QLineEdit*>()->text(), "10");

    form->setStayOnTop(false);
    EXPECT_FALSE(w->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    form->hide();
    EXPECT_FALSE(w->isVisible());
}

TEST_F(QtViewTest, ClicksOnWidgetsReachTheModel) {
    showModeless();
    clickIndicator(widget<QCheckBox>("Coche"));
    EXPECT_TRUE(form->get<tk::CheckBox>("Coche").checked());
    EXPECT_EQ(form->count("Coche"), 1);

    clickIndicator(widget<QRadioButton>("Deux"));
    EXPECT_TRUE(form->get<tk::RadioButton>("Deux").checked());
    EXPECT_FALSE(form->get<tk::RadioButton>("Un").checked());
    EXPECT_FALSE(widget<QRadioButton>("Un")->isChecked()) << "the model unchecked the sibling";
    EXPECT_EQ(form->count("Deux"), 1);

    const auto items = widget<QGroupBox>("Format")->findChildren<QRadioButton*>();
    clickIndicator(items[2]);
    EXPECT_EQ(form->get<tk::RadioGroup>("Format").itemIndex(), 2);
    EXPECT_FALSE(items[0]->isChecked());
    EXPECT_EQ(form->count("Format"), 1);

    QTest::mouseClick(widget<QPushButton>("Appliquer"), Qt::LeftButton);
    EXPECT_EQ(form->count("Appliquer"), 1);
    EXPECT_EQ(form->focusedControl(), &form->control("Appliquer"));
}

TEST_F(QtViewTest, PicturesLieUnderTheControlsTheyShareRoomWith) {
    showModeless();
    QCheckBox* coche = widget<QCheckBox>("Coche");
    QWidget* apercu = qt->widget(form->control("Apercu"));
    const QPoint onBoth = coche->geometry().topLeft() + QPoint(6, 8);
    EXPECT_EQ(window()->childAt(onBoth), coche);
    clickIndicator(coche);
    EXPECT_TRUE(form->get<tk::CheckBox>("Coche").checked());

    tk::Picture red{2, 1, {255, 0, 0, 255, 0, 0}};
    form->get<tk::Image>("Apercu").setPicture(red);
    const QPixmap shown = qobject_cast<QLabel*>(apercu)->pixmap();
    ASSERT_FALSE(shown.isNull());
    EXPECT_EQ(shown.toImage().pixelColor(1, 0), QColor(255, 0, 0));
}

TEST_F(QtViewTest, ModelChangesShowInWidgetsWithoutComingBackAsInput) {
    showModeless();
    form->get<tk::CheckBox>("Coche").setChecked(true);
    EXPECT_TRUE(widget<QCheckBox>("Coche")->isChecked());
    EXPECT_EQ(form->count("Coche"), 1) << "the model's own event only";

    form->get<tk::TEditVal>("Valeur").setText("42");
    EXPECT_EQ(widget<QLineEdit>("Valeur")->text(), "42");
    EXPECT_EQ(form->count("Valeur", tk::EventKind::Change), 1);

    form->get<tk::TrackBar>("Taux").setPosition(7);
    EXPECT_EQ(widget<QSlider>("Taux")->value(), 7);
    EXPECT_EQ(form->count("Taux", tk::EventKind::Change), 1);

    form->get<tk::RadioGroup>("Format").setItemIndex(1);
    EXPECT_TRUE(widget<QGroupBox>("Format")->findChildren<QRadioButton*>()[1]->isChecked());
    EXPECT_EQ(form->count("Format"), 1);

    form->control("Titre").setText("Hauteur");
    EXPECT_EQ(widget<QLabel>("Titre")->text(), "Hauteur");
    form->control("Annuler").setEnabled(false);
    EXPECT_FALSE(widget<QPushButton>("Annuler")->isEnabled());
    form->control("Boite").setVisible(false);
    EXPECT_FALSE(widget<QGroupBox>("Boite")->isVisible());
    form->setText("Autre titre");
    EXPECT_EQ(window()->windowTitle(), "Autre titre");
}

TEST_F(QtViewTest, TypedKeysGoThroughTheModelsFilters) {
    showModeless();
    QLineEdit* valeur = widget<QLineEdit>("Valeur");
    QTest::mouseClick(valeur, Qt::LeftButton);
    EXPECT_EQ(form->focusedControl(), &form->control("Valeur"));
    QTest::keyClicks(valeur, "12");
    EXPECT_EQ(form->control("Valeur").text(), "12");
    EXPECT_EQ(valeur->text(), "12");
    EXPECT_EQ(form->count("Valeur", tk::EventKind::Change), 2);
    QTest::keyClick(valeur, Qt::Key_Backspace);
    EXPECT_EQ(form->control("Valeur").text(), "1");

    auto* pas = qt->widget(form->control("Pas"))->findChild<QLineEdit*>();
    QTest::mouseClick(pas, Qt::LeftButton);
    QTest::keyClicks(pas, "x");
    EXPECT_EQ(form->control("Pas").text(), "10") << "a spin edit refuses letters";
    EXPECT_EQ(pas->text(), "10");
}

TEST_F(QtViewTest, SpinArrowsAndSliderMoveTheModel) {
    showModeless();
    auto* up = qt->widget(form->control("Pas"))->findChild<QToolButton*>("PasUp");
    ASSERT_NE(up, nullptr);
    QTest::mouseClick(up, Qt::LeftButton);
    EXPECT_EQ(form->get<tk::SpinEdit>("Pas").value(), 15);
    EXPECT_FALSE(form->get<tk::SpinEdit>("Pas").buttonHeld());

    QSlider* taux = widget<QSlider>("Taux");
    QTest::mouseClick(taux, Qt::LeftButton, {}, QPoint(taux->width() - 3, taux->height() / 2));
    auto& t = form->get<tk::TrackBar>("Taux");
    EXPECT_EQ(t.position(), 2) << "a click on the track moves a page";
    EXPECT_EQ(taux->value(), 2);
    EXPECT_EQ(form->count("Taux", tk::EventKind::MouseUp), 1);
    EXPECT_FALSE(t.dragging());
    QTest::keyClick(taux, Qt::Key_Right);
    EXPECT_EQ(t.position(), 3);
    QTest::keyClick(taux, Qt::Key_End);
    EXPECT_EQ(t.position(), 10);
    EXPECT_EQ(taux->value(), 10);
}

TEST_F(QtViewTest, ModalFormEndsWithEnterOrEscapeThroughItsButtons) {
    QTimer::singleShot(50, [this] { QTest::keyClick(window(), Qt::Key_Escape); });
    EXPECT_EQ(form->showModal(), tk::ModalResult::Cancel);
    EXPECT_EQ(form->count("Annuler"), 1);
    EXPECT_FALSE(window()->isVisible());

    QTimer::singleShot(50, [this] {
        EXPECT_EQ(window()->windowModality(), Qt::ApplicationModal);
        QTest::keyClick(window(), Qt::Key_Return);
    });
    EXPECT_EQ(form->showModal(), tk::ModalResult::Ok);
    EXPECT_EQ(form->count("Appliquer"), 1);
}

TEST_F(QtViewTest, TimersTickOnQtsEventLoop) {
    showModeless();
    auto& timer = form->get<tk::Timer>("Horloge");
    timer.setEnabled(true);
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return form->count("Horloge", tk::EventKind::Timer) >= 3; }, 2000));
    EXPECT_GE(form->count("Horloge", tk::EventKind::Timer), 3);
    timer.setEnabled(false);
    const int ticks = form->count("Horloge", tk::EventKind::Timer);
    QTest::qWait(60);
    EXPECT_EQ(form->count("Horloge", tk::EventKind::Timer), ticks);
}

#if defined(__x86_64__)
// A click from Qt's loop is computed with the library's floating-point
// settings whatever the host set, and the host has its own back; host code
// that runs inside a modal loop the library started (here a timer of the
// host's) runs with the host's settings, not the library's.
TEST_F(QtViewTest, InputComputesWithTheLibrarysSettingsAndHostCodeKeepsItsOwn) {
    showModeless();
    const FloatingPointState saved = floatingPointState();
    const FloatingPointState host{0x027F, 0x7F80}; // 53 bits; SSE toward zero
    setFloatingPointState(host);
    clickIndicator(widget<QCheckBox>("Coche"));
    const FloatingPointState afterClick = floatingPointState();
    form->hide();
    FloatingPointState inModalLoop{};
    {
        const ExtendedPrecision entry; // as an entry point opening a modal form
        QTimer::singleShot(50, [&] {
            inModalLoop = floatingPointState();
            QTest::keyClick(window(), Qt::Key_Escape);
        });
        form->showModal();
    }
    setFloatingPointState(saved);
    ASSERT_EQ(form->count("Coche"), 1);
    EXPECT_EQ(form->settings.x87 & 0x0F3F, kExtendedControlWord & 0x0F3F);
    EXPECT_EQ(form->settings.sse & ~0x3Fu, kLibraryMxcsr);
    EXPECT_EQ(afterClick.x87, host.x87);
    EXPECT_EQ(afterClick.sse & ~0x3Fu, host.sse);
    EXPECT_EQ(inModalLoop.x87, host.x87);
    EXPECT_EQ(inModalLoop.sse & ~0x3Fu, host.sse);
    EXPECT_EQ(form->settings.x87 & 0x0F3F, kExtendedControlWord & 0x0F3F)
        << "the Escape handler ran with the library's settings";
}
#endif

TEST_F(QtViewTest, BoxesAreMessageBoxesAndTheCursorIsTheApplications) {
    QString caption, text;
    QTimer::singleShot(50, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        caption = box->windowTitle();
        text = box->text();
        box->accept();
    });
    app.showWarning("Valeur hors domaine");
    EXPECT_EQ(caption, "Avertissement");
    EXPECT_EQ(text, "Valeur hors domaine");

    app.setCursor(Cursor::Hourglass);
    ASSERT_NE(QGuiApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
    app.setCursor(Cursor::Default);
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

TEST(ViewChoice, SeesTheQtApplicationOfTheProcess) {
    EXPECT_TRUE(plugin::qtApplicationRunning());
}

} // namespace
} // namespace talvine
