// The form toolkit driven as a user drives it: forms built from descriptions,
// the modal loop, the controls' events, timers on the virtual clock, boxes.
#include "toolkit/Application.h"
#include "toolkit/Automation.h"
#include "toolkit/BarreCurseur.h"
#include "toolkit/Locale.h"
#include "toolkit/UtilPlus.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace talvine::tk {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

using K = ControlKind;

// A form whose every handler writes "<handler>:<sender>" to a log.
class Fixture : public ::testing::Test {
  protected:
    Application app;
    Automation ui{app};
    std::vector<std::string> log;

    // A handler that logs "<name>:<sender>".
    Handler logging(std::string name) {
        return [this, name](Event& e) { log.push_back(name + ":" + e.sender->name()); };
    }

    static FormDesc dialog() {
        return {.name = "Dlg",
                .caption = "Dialogue",
                .clientWidth = 200,
                .clientHeight = 150,
                .controls = {
                    {.kind = K::GroupBox, .name = "Groupe", .caption = " Groupe "},
                    {.kind = K::RadioButton, .name = "Un", .parent = "Groupe", .checked = true},
                    {.kind = K::RadioButton, .name = "Deux", .parent = "Groupe"},
                    {.kind = K::RadioButton, .name = "Ailleurs", .checked = true},
                    {.kind = K::CheckBox, .name = "Case"},
                    {.kind = K::Edit, .name = "Texte"},
                    {.kind = K::SpinEdit,
                     .name = "Taux",
                     .min = 0,
                     .max = 800,
                     .value = 100,
                     .step = 10},
                    {.kind = K::RadioGroup,
                     .name = "Format",
                     .items = {"Libre", "2/3", "3/4"},
                     .value = 0},
                    {.kind = K::Timer, .name = "Minuterie", .enabled = false, .interval = 200},
                    {.kind = K::Button, .name = "ReInit", .caption = "Réinitialiser"},
                    {.kind = K::BitBtn,
                     .name = "Appliquer",
                     .caption = "Appliquer",
                     .buttonKind = ButtonKind::Ok},
                    {.kind = K::BitBtn, .name = "Annuler", .buttonKind = ButtonKind::Cancel},
                }};
    }

    // Every handler of the dialog, each logging under its own name.
    void bindAll(Form& f) {
        using E = EventKind;
        struct Binding {
            const char* control;
            EventKind event;
            const char* handler;
        };
        for (const Binding& b :
             {Binding{"Un", E::Click, "RadioClick"}, Binding{"Deux", E::Click, "RadioClick"},
              Binding{"Case", E::Click, "CaseClick"}, Binding{"Texte", E::Change, "TexteChange"},
              Binding{"Texte", E::KeyUp, "TexteKeyUp"}, Binding{"Taux", E::Change, "TauxChange"},
              Binding{"Format", E::Click, "FormatClick"},
              Binding{"Minuterie", E::Timer, "MinuterieTimer"},
              Binding{"ReInit", E::Click, "ReInitClick"},
              Binding{"Appliquer", E::Click, "AppliquerClick"},
              Binding{"Annuler", E::Click, "AnnulerClick"}})
            f.bind(b.control, b.event, logging(b.handler));
        f.bind(E::Show, logging("FormShow"));
        f.bind(E::Close, logging("FormClose"));
    }

    Form& build() {
        Form& f = app.createForm<Form>(dialog());
        bindAll(f);
        return f;
    }
};

// Descriptions ------------------------------------------------------------------

// A misspelt handler does not compile (toolkit_misspelt_handler, a test that
// builds tests/compile_fail/MisspeltHandler.cpp); a misspelt control name is
// data, and fails when the dialog binds it.
TEST_F(Fixture, MisspeltControlNameIsReportedWhenTheDialogIsBuilt) {
    struct Misbound : Form {
        explicit Misbound(Application& a) : Form(a, dialog()) {
            bind("Caze", EventKind::Click, [] {});
        }
    };
    try {
        Misbound form(app);
        FAIL() << "the form was built";
    } catch (const ToolkitError& e) {
        EXPECT_THAT(e.what(), HasSubstr("'Dlg'"));
        EXPECT_THAT(e.what(), HasSubstr("'Caze'"));
        EXPECT_THAT(e.what(), HasSubstr("OnClick"));
    }
    EXPECT_EQ(app.findForm("Dlg"), nullptr);
}

TEST_F(Fixture, FaultyDescriptionsFailLoudly) {
    struct Case {
        const char* what;
        void (*spoil)(FormDesc&);
        const char* mentions;
    };
    const Case cases[] = {
        {"duplicate name", [](FormDesc& d) { d.controls[5].name = "Case"; }, "'Case'"},
        {"unknown parent", [](FormDesc& d) { d.controls[1].parent = "Groupes"; }, "'Groupes'"},
        {"parent not a box", [](FormDesc& d) { d.controls[2].parent = "Case"; }, "'Case'"},
    };
    for (const Case& c : cases) {
        FormDesc d = dialog();
        c.spoil(d);
        try {
            Form form(app, d);
            ADD_FAILURE() << c.what << ": the form was built";
        } catch (const ToolkitError& e) {
            EXPECT_THAT(e.what(), HasSubstr(c.mentions)) << c.what;
        }
    }
}

TEST_F(Fixture, FaultyBindingsFailLoudly) {
    struct Case {
        const char* what;
        void (*spoil)(Form&);
        const char* mentions;
    };
    const Case cases[] = {
        {"event the kind lacks", [](Form& f) { f.bind("Case", EventKind::Change, [] {}); },
         "'OnChange'"},
        {"event the form lacks", [](Form& f) { f.bind(EventKind::Click, [] {}); }, "'OnClick'"},
        {"plain trackbar has no OnMouseUp",
         [](Form& f) { f.bind("Barre", EventKind::MouseUp, [] {}); }, "'OnMouseUp'"},
    };
    for (const Case& c : cases) {
        FormDesc d = dialog();
        d.controls.push_back({.kind = K::TrackBar, .name = "Barre"});
        Form form(app, d);
        try {
            c.spoil(form);
            ADD_FAILURE() << c.what << ": the handler was bound";
        } catch (const ToolkitError& e) {
            EXPECT_THAT(e.what(), HasSubstr("'Dlg'")) << c.what;
            EXPECT_THAT(e.what(), HasSubstr(c.mentions)) << c.what;
        }
    }
}

TEST_F(Fixture, ControlsAreFoundByNameAndKind) {
    Form& f = build();
    EXPECT_EQ(f.get<CheckBox>("Case").name(), "Case");
    EXPECT_THROW(f.get<CheckBox>("Texte"), ToolkitError);
    EXPECT_THROW(f.control("Personne"), ToolkitError);
    EXPECT_EQ(&ui.control("Dlg.Taux"), &f.control("Taux"));
    EXPECT_THROW(ui.control("Autre.Taux"), ToolkitError);
}

TEST_F(Fixture, BuildingRaisesNoEventsAndAppliesTheDescription) {
    Form& f = build();
    EXPECT_TRUE(log.empty());
    EXPECT_FALSE(f.visible());
    EXPECT_EQ(f.get<SpinEdit>("Taux").text(), "100");
    EXPECT_EQ(f.get<Button>("Annuler").text(), "Annuler");
    EXPECT_TRUE(f.get<Button>("Appliquer").isDefault());
    EXPECT_TRUE(f.get<RadioButton>("Un").checked());
    // Radio buttons are exclusive within their own parent only.
    EXPECT_TRUE(f.get<RadioButton>("Ailleurs").checked());
    EXPECT_FALSE(f.get<Timer>("Minuterie").running());
}

// Forms -------------------------------------------------------------------------

TEST_F(Fixture, OnShowRunsOnlyWhenTheFormBecomesVisible) {
    Form& f = build();
    f.show();
    f.show();
    EXPECT_TRUE(f.visible());
    EXPECT_THAT(log, ElementsAre("FormShow:Dlg"));
    f.hide();
    EXPECT_THAT(log, ElementsAre("FormShow:Dlg")); // hide runs no OnClose
    f.show();
    EXPECT_THAT(log, ElementsAre("FormShow:Dlg", "FormShow:Dlg"));
}

TEST_F(Fixture, CloseRunsOnCloseThenHides) {
    Form& f = build();
    f.show();
    bool visibleInOnClose = false;
    f.setHandler(EventKind::Close, [&](Event&) { visibleInOnClose = f.visible(); });
    f.close();
    EXPECT_TRUE(visibleInOnClose);
    EXPECT_FALSE(f.visible());
}

TEST_F(Fixture, AnErrorInOnCloseKeepsAModelessFormOpen) {
    Form& f = build();
    f.setHandler(EventKind::Close, [](Event&) { throw Exception("Valeur incorrecte"); });
    f.get<Button>("Annuler").setHandler(EventKind::Click, [&](Event&) { f.close(); });
    f.show();
    ui.click("Dlg.Annuler");
    EXPECT_TRUE(f.visible());
    EXPECT_THAT(ui.boxes(), ElementsAre(Box{BoxKind::Error, "Erreur", "Valeur incorrecte."}));
}

TEST_F(Fixture, ModalLoopRunsQueuedActionsUntilAModalResult) {
    Form& f = build();
    ui.queue([&] { ui.click("Dlg.Case"); });
    ui.queue([&] { ui.click("Dlg.Appliquer"); });
    ui.queue([&] { ADD_FAILURE() << "ran after the form closed"; });
    EXPECT_EQ(f.showModal(), ModalResult::Ok);
    EXPECT_FALSE(f.visible());
    EXPECT_THAT(log, ElementsAre("FormShow:Dlg", "CaseClick:Case", "AppliquerClick:Appliquer",
                                 "FormClose:Dlg"));
    EXPECT_EQ(ui.headless().pendingActions(), 1u);
}

TEST_F(Fixture, EnterPressesTheDefaultButtonAndEscapeTheCancelButton) {
    Form& f = build();
    ui.queue([&] { ui.typeText("Dlg.Texte", "a"); });
    ui.queue([&] { ui.press(KeyCode::Enter); });
    EXPECT_EQ(f.showModal(), ModalResult::Ok);
    EXPECT_EQ(log.at(log.size() - 2), "AppliquerClick:Appliquer");

    log.clear();
    ui.queue([&] { ui.press(KeyCode::Escape); });
    EXPECT_EQ(f.showModal(), ModalResult::Cancel);
    EXPECT_THAT(log, ElementsAre("FormShow:Dlg", "AnnulerClick:Annuler", "FormClose:Dlg"));
}

TEST_F(Fixture, EnterPressesTheFocusedButtonRatherThanTheDefaultOne) {
    Form& f = build();
    f.show();
    ui.focus("Dlg.ReInit");
    ui.press(KeyCode::Enter);
    EXPECT_EQ(log.back(), "ReInitClick:ReInit");
    EXPECT_TRUE(f.visible());
}

TEST_F(Fixture, ModalLoopWithNothingQueuedClosesAsTheCancelButtonWould) {
    Form& f = build();
    ::testing::internal::CaptureStderr();
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(f.showModal(), ModalResult::Cancel);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_THAT(log, ElementsAre("FormShow:Dlg", "AnnulerClick:Annuler", "FormClose:Dlg"));
    EXPECT_FALSE(f.visible());
    EXPECT_EQ(app.modalForm(), nullptr);
    ASSERT_EQ(ui.failures().size(), 1u);
    EXPECT_THAT(ui.failures()[0], HasSubstr("'Dlg'"));
}

TEST_F(Fixture, ModalLoopThatCannotBeCancelledEndsWithAnErrorNamingTheForm) {
    Form& f = build();
    f.setHandler(EventKind::Close, [](Event&) { throw Exception("pas maintenant"); });
    try {
        f.showModal();
        FAIL() << "the loop returned";
    } catch (const ToolkitError& e) {
        EXPECT_THAT(e.what(), HasSubstr("'Dlg'"));
    }
    EXPECT_FALSE(f.visible());
    EXPECT_EQ(app.modalForm(), nullptr);
    // The refused close was shown like any error from OnClose.
    ASSERT_EQ(ui.boxes().size(), 1u);
    EXPECT_EQ(ui.boxes()[0].text, "pas maintenant.");
}

TEST_F(Fixture, AnErrorInOnCloseKeepsTheModalLoopGoing) {
    Form& f = build();
    int attempts = 0;
    f.setHandler(EventKind::Close, [&](Event&) {
        if (++attempts == 1) throw Exception("Division par zéro en virgule flottante");
    });
    ui.queue([&] { ui.click("Dlg.Appliquer"); });
    ui.queue([&] {
        EXPECT_TRUE(f.visible());
        ui.click("Dlg.Annuler");
    });
    EXPECT_EQ(f.showModal(), ModalResult::Cancel);
    EXPECT_EQ(attempts, 2);
    EXPECT_THAT(ui.boxes(), ElementsAre(Box{BoxKind::Error, "Erreur",
                                            "Division par zéro en virgule flottante."}));
}

TEST_F(Fixture, ScriptsCannotReachHiddenFormsOrControls) {
    Form& f = build();
    EXPECT_THROW(ui.click("Dlg.Case"), ToolkitError); // form not shown
    f.show();
    f.get<CheckBox>("Case").setVisible(false);
    EXPECT_THROW(ui.click("Dlg.Case"), ToolkitError);
    f.get<GroupBox>("Groupe").setEnabled(false);
    EXPECT_THROW(ui.click("Dlg.Deux"), ToolkitError); // disabled with its box
    EXPECT_THROW(ui.click("Dlg.Groupe"), ToolkitError);
}

// Errors escaping handlers ----------------------------------------------------------

TEST(ErrorBoxText, AddsAFullStopUnlessTheMessageEndsAtOrBeforeIt) {
    struct Case {
        const char* message;
        const char* text;
    };
    const Case cases[] = {
        {"'12a' n'est pas une valeur entière correcte",
         "'12a' n'est pas une valeur entière correcte."},
        {"Fini.", "Fini."},
        {"Attention !", "Attention !"}, // '!' sorts before '.'
        {"un, deux,", "un, deux,"},
        {"moins -", "moins -"},
        {"trait /", "trait /."}, // '/' sorts after '.'
        {"ouvert (", "ouvert ("},
        {"zéro", "zéro."},
        {"", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(errorBoxText(c.message), c.text) << c.message;
}

TEST_F(Fixture, ErrorsEscapingAHandlerAreShownAndTheActionReturns) {
    Form& f = build();
    f.get<CheckBox>("Case").setHandler(EventKind::Click,
                                       [](Event&) { throw EHorsDomaine("641 n'est pas"); });
    f.show();
    ui.click("Dlg.Case");
    EXPECT_TRUE(f.get<CheckBox>("Case").checked());
    EXPECT_THAT(ui.boxes(), ElementsAre(Box{BoxKind::Error, "Erreur", "641 n'est pas."}));
}

TEST_F(Fixture, ErrorsFromEventsRaisedByCodeReachTheCode) {
    Form& f = build();
    f.get<CheckBox>("Case").setHandler(EventKind::Click, [](Event&) { throw Exception("non"); });
    EXPECT_THROW(f.get<CheckBox>("Case").setChecked(true), Exception);
    EXPECT_TRUE(ui.boxes().empty());
}

TEST_F(Fixture, WarningAndMessageBoxesAreRecorded) {
    app.showWarning("L'écart horizontal entre les deux points ne doit pas être nul");
    app.showMessage("Bonjour");
    EXPECT_THAT(ui.boxes(),
                ElementsAre(Box{BoxKind::Warning, "Avertissement",
                                "L'écart horizontal entre les deux points ne doit pas être nul"},
                            Box{BoxKind::Information, "Talvine", "Bonjour"}));
}

// Check boxes, radio buttons, radio groups -------------------------------------------

TEST_F(Fixture, CheckBoxRaisesOnClickWheneverItsStateChanges) {
    Form& f = build();
    auto& box = f.get<CheckBox>("Case");
    box.setChecked(true);
    box.setChecked(true);
    box.setChecked(false);
    EXPECT_THAT(log, ElementsAre("CaseClick:Case", "CaseClick:Case"));
    f.show();
    log.clear();
    ui.click("Dlg.Case");
    EXPECT_TRUE(box.checked());
    EXPECT_THAT(log, ElementsAre("CaseClick:Case"));
}

TEST_F(Fixture, CheckingABoxFromItsOwnClickHandlerRaisesOneMoreClick) {
    // The pick boxes of the dialogs rely on this re-entrant click.
    Form& f = build();
    auto& box = f.get<CheckBox>("Case");
    int clicks = 0;
    box.setHandler(EventKind::Click, [&](Event&) {
        if (++clicks == 1 && box.checked()) box.setChecked(false);
    });
    f.show();
    ui.click("Dlg.Case");
    EXPECT_EQ(clicks, 2);
    EXPECT_FALSE(box.checked());
}

TEST_F(Fixture, RadioButtonsAreExclusiveAndClickOnlyWhenSelected) {
    Form& f = build();
    f.show();
    log.clear();
    ui.click("Dlg.Deux");
    EXPECT_TRUE(f.get<RadioButton>("Deux").checked());
    EXPECT_FALSE(f.get<RadioButton>("Un").checked());
    EXPECT_TRUE(f.get<RadioButton>("Ailleurs").checked());
    ui.click("Dlg.Deux"); // already selected
    EXPECT_THAT(log, ElementsAre("RadioClick:Deux"));
    f.get<RadioButton>("Un").setChecked(true); // from code
    EXPECT_THAT(log, ElementsAre("RadioClick:Deux", "RadioClick:Un"));
    EXPECT_THROW(ui.setChecked("Dlg.Un", false), ToolkitError);
}

TEST_F(Fixture, RadioGroupClicksWhenItsIndexChanges) {
    Form& f = build();
    auto& group = f.get<RadioGroup>("Format");
    group.setItemIndex(0);
    EXPECT_TRUE(log.empty());
    group.setItemIndex(2);
    EXPECT_THAT(log, ElementsAre("FormatClick:Format"));
    group.setItemIndex(7); // clamped to the last item
    EXPECT_EQ(group.itemIndex(), 2);
    f.show();
    log.erase(log.begin() + 1);
    ui.clickItem("Dlg.Format", 2);
    EXPECT_EQ(log.size(), 1u);
    ui.clickItem("Dlg.Format", 1);
    EXPECT_EQ(ui.itemIndex("Dlg.Format"), 1);
    EXPECT_EQ(log.size(), 2u);
    EXPECT_THROW(ui.clickItem("Dlg.Format", 3), ToolkitError);
}

// Edit fields -------------------------------------------------------------------------

TEST_F(Fixture, EditRaisesOnChangeOnlyWhenTheTextChanges) {
    Form& f = build();
    auto& edit = f.get<Edit>("Texte");
    edit.setText("12");
    edit.setText("12");
    EXPECT_THAT(log, ElementsAre("TexteChange:Texte"));
}

TEST_F(Fixture, TypingChangesTheTextThenReleasesEachKey) {
    Form& f = build();
    f.show();
    ui.typeText("Dlg.Texte", "1é");
    EXPECT_EQ(ui.text("Dlg.Texte"), "1é");
    EXPECT_THAT(log, ElementsAre("FormShow:Dlg", "TexteChange:Texte", "TexteKeyUp:Texte",
                                 "TexteChange:Texte", "TexteKeyUp:Texte"));
    log.clear();
    ui.press("Dlg.Texte", Key{KeyCode::Left});
    ui.press("Dlg.Texte", Key{KeyCode::Backspace});
    EXPECT_EQ(ui.text("Dlg.Texte"), "é");
    ui.press("Dlg.Texte", Key{KeyCode::Backspace}); // nothing before the caret
    EXPECT_EQ(ui.text("Dlg.Texte"), "é");
    EXPECT_THAT(log, ElementsAre("TexteKeyUp:Texte", "TexteChange:Texte", "TexteKeyUp:Texte",
                                 "TexteKeyUp:Texte"));
}

TEST_F(Fixture, TabMovesTheFocusAndTheReleaseGoesToTheNewControl) {
    Form& f = build();
    f.get<Edit>("Texte").setText("640");
    f.show();
    ui.focus("Dlg.Case");
    log.clear();
    ui.press(KeyCode::Tab);
    EXPECT_TRUE(f.get<Edit>("Texte").focused());
    EXPECT_EQ(f.get<Edit>("Texte").selLength(), 3u); // all selected
    EXPECT_THAT(log, ElementsAre("TexteKeyUp:Texte"));
    ui.press(KeyCode::Tab);
    EXPECT_TRUE(f.get<SpinEdit>("Taux").focused());
}

TEST_F(Fixture, TypingIntoAFieldReplacesWhatTheFocusSelected) {
    Form& f = build();
    f.get<Edit>("Texte").setText("640");
    f.show();
    ui.focus("Dlg.Case");
    ui.typeText("Dlg.Texte", "3");
    EXPECT_EQ(ui.text("Dlg.Texte"), "3");
    ui.typeText("Dlg.Texte", "2"); // still focused: appended
    EXPECT_EQ(ui.text("Dlg.Texte"), "32");
    ui.replaceText("Dlg.Texte", "");
    EXPECT_EQ(ui.text("Dlg.Texte"), "");
}

// Spin edit -----------------------------------------------------------------------------

TEST_F(Fixture, SpinEditReadsTheTextAndClampsOnlyWhenSet) {
    Form& f = build();
    auto& spin = f.get<SpinEdit>("Taux");
    struct Case {
        const char* text;
        int value;
    };
    for (const Case& c : {Case{"900", 900}, Case{"-5", -5}, Case{"abc", 0}, Case{"", 0},
                          Case{"12,5", 0}, Case{"$10", 16}}) {
        spin.setText(c.text);
        EXPECT_EQ(spin.value(), c.value) << c.text;
    }
    log.clear();
    spin.setValue(900);
    EXPECT_EQ(spin.text(), "800");
    spin.setValue(800);
    spin.setValue(-3);
    EXPECT_EQ(spin.text(), "0");
    EXPECT_THAT(log, ElementsAre("TauxChange:Taux", "TauxChange:Taux"));
}

TEST_F(Fixture, SpinEditWithEqualBoundsDoesNotClamp) {
    Form& f = build();
    auto& spin = f.get<SpinEdit>("Taux");
    spin.setRange(0, 0);
    spin.setValue(-40);
    EXPECT_EQ(spin.text(), "-40");
}

TEST_F(Fixture, SpinEditAcceptsOnlyNumberKeys) {
    setDecimalSeparator(",");
    Form& f = build();
    f.show();
    ui.replaceText("Dlg.Taux", "1a.,+-2");
    resetDecimalSeparator();
    EXPECT_EQ(ui.text("Dlg.Taux"), "1,+-2");
    EXPECT_EQ(ui.headless().beeps(), 2);
    EXPECT_EQ(f.get<SpinEdit>("Taux").value(), 0);
}

TEST_F(Fixture, SpinArrowsStepWithinTheRange) {
    Form& f = build();
    f.show();
    ui.pressSpin("Dlg.Taux", true);
    EXPECT_EQ(ui.text("Dlg.Taux"), "110");
    ui.press("Dlg.Taux", Key{KeyCode::Down});
    ui.press("Dlg.Taux", Key{KeyCode::Down});
    EXPECT_EQ(ui.text("Dlg.Taux"), "90");
    f.get<SpinEdit>("Taux").setValue(795);
    ui.pressSpin("Dlg.Taux", true);
    EXPECT_EQ(ui.text("Dlg.Taux"), "800");
    // Stepping reads the typed value, unclamped, then clamps the result.
    f.get<SpinEdit>("Taux").setText("900");
    ui.pressSpin("Dlg.Taux", false);
    EXPECT_EQ(ui.text("Dlg.Taux"), "800");
}

TEST_F(Fixture, SpinArrowsSaturateAtTheEndsOfInt) {
    Form& f = build();
    f.show();
    auto& spin = f.get<SpinEdit>("Taux");
    // A range that does not clamp: the step alone decides the result.
    spin.setRange(0, 0);
    spin.setText("2147483647");
    ui.pressSpin("Dlg.Taux", true);
    EXPECT_EQ(ui.text("Dlg.Taux"), "2147483647");
    spin.setText("-2147483648");
    ui.pressSpin("Dlg.Taux", false);
    EXPECT_EQ(ui.text("Dlg.Taux"), "-2147483648");
    // Within a range, a step past the top of int ends at the top of the range.
    spin.setRange(-50, 50);
    spin.setText("2147483647");
    ui.pressSpin("Dlg.Taux", true);
    EXPECT_EQ(ui.text("Dlg.Taux"), "50");
    spin.setText("-2147483648");
    ui.pressSpin("Dlg.Taux", false);
    EXPECT_EQ(ui.text("Dlg.Taux"), "-50");
}

TEST_F(Fixture, HeldSpinArrowRepeatsAfter400MsThenEvery100Ms) {
    Form& f = build();
    f.show();
    auto& spin = f.get<SpinEdit>("Taux");
    struct Case {
        int holdMs;
        int steps;
    };
    // One step on the press; repeats at 400, 500, 600, ... ms.
    for (const Case& c :
         {Case{0, 1}, Case{399, 1}, Case{400, 2}, Case{499, 2}, Case{500, 3}, Case{1000, 8}}) {
        spin.setValue(0);
        ui.pressSpin("Dlg.Taux", true, c.holdMs);
        EXPECT_EQ(spin.value(), 10 * c.steps) << c.holdMs << " ms";
    }
    // Released: time passing changes nothing.
    ui.advance(1000);
    EXPECT_EQ(spin.value(), 80);
    EXPECT_FALSE(spin.buttonHeld());
}

TEST_F(Fixture, SpinEditClampsAValidValueWhenItLosesTheFocus) {
    Form& f = build();
    f.show();
    ui.replaceText("Dlg.Taux", "900");
    log.clear();
    ui.focus("Dlg.Case");
    EXPECT_EQ(ui.text("Dlg.Taux"), "800");
    EXPECT_THAT(log, ElementsAre("TauxChange:Taux"));

    ui.replaceText("Dlg.Taux", "9-");
    log.clear();
    ui.focus("Dlg.Case");
    EXPECT_EQ(ui.text("Dlg.Taux"), "9-");
    EXPECT_TRUE(log.empty());
}

TEST_F(Fixture, EnterAppliesWithoutTakingTheFocusButAClickTakesIt) {
    Form& f = build();
    // Enter: the spin edit keeps the focus and its typed value.
    ui.queue([&] { ui.replaceText("Dlg.Taux", "900"); });
    ui.queue([&] {
        EXPECT_EQ(ui.text("Dlg.Taux"), "900");
        ui.press(KeyCode::Enter);
    });
    EXPECT_EQ(f.showModal(), ModalResult::Ok);
    EXPECT_EQ(ui.text("Dlg.Taux"), "900");
    // A click on the button takes the focus first: the spin edit clamps.
    ui.queue([&] { ui.replaceText("Dlg.Taux", "900"); });
    ui.queue([&] { ui.click("Dlg.Appliquer"); });
    EXPECT_EQ(f.showModal(), ModalResult::Ok);
    EXPECT_EQ(ui.text("Dlg.Taux"), "800");
}

// Timers ----------------------------------------------------------------------------------

TEST_F(Fixture, TimerTicksOnlyAsVirtualTimePasses) {
    Form& f = build();
    auto& timer = f.get<Timer>("Minuterie");
    timer.setEnabled(true);
    ui.advance(199);
    EXPECT_TRUE(log.empty());
    ui.advance(1);
    ui.advance(450);
    EXPECT_EQ(log.size(), 3u); // 200, 400, 600
    // Enabling a running timer keeps its phase.
    ui.advance(100); // 750
    timer.setEnabled(true);
    ui.advance(50); // 800
    EXPECT_EQ(log.size(), 4u);
    timer.setEnabled(false);
    ui.advance(1000);
    EXPECT_EQ(log.size(), 4u);
}

TEST_F(Fixture, TimerTickRunsInsideAModalLoopWhenAQueuedWaitAdvancesTime) {
    Form& f = build();
    f.get<Timer>("Minuterie").setEnabled(true);
    ui.queue([&] { ui.advance(450); });
    ui.queue([&] { ui.press(KeyCode::Escape); });
    f.showModal();
    EXPECT_EQ(std::count(log.begin(), log.end(), "MinuterieTimer:Minuterie"), 2);
}

TEST_F(Fixture, TimerTickErrorIsShownAndTheTimerGoesOn) {
    Form& f = build();
    auto& timer = f.get<Timer>("Minuterie");
    int ticks = 0;
    timer.setHandler(EventKind::Timer, [&](Event&) {
        ++ticks;
        throw Exception("tic");
    });
    timer.update();
    timer.setEnabled(true);
    ui.advance(400);
    EXPECT_EQ(ticks, 2);
    EXPECT_EQ(ui.boxes().size(), 2u);
}

TEST_F(Fixture, TimersStopWhenTheirFormIsDestroyed) {
    {
        Application local;
        Automation localUi(local);
        int ticks = 0;
        Form& f = local.createForm<Form>(
            FormDesc{.name = "F", .controls = {{.kind = K::Timer, .name = "T", .interval = 100}}});
        f.bind("T", EventKind::Timer, [&] { ++ticks; }); // enabled: starts
        localUi.advance(250);
        EXPECT_EQ(ticks, 2);
        delete &f; // a dialog module may destroy its own form
        EXPECT_EQ(local.findForm("F"), nullptr);
        localUi.advance(1000);
        EXPECT_EQ(ticks, 2);
    }
}

// Cursor, stay-on-top, observers ------------------------------------------------------------

class Watcher : public Observer {
  public:
    std::vector<std::string> seen;
    void changed(Control& c, Change what) override {
        seen.push_back(c.name() + "/" + std::to_string(static_cast<int>(what)));
    }
    void cursorChanged(Cursor c) override {
        seen.push_back(c == Cursor::Hourglass ? "busy" : "arrow");
    }
};

TEST_F(Fixture, BusyCursorIsTheApplicationsCursor) {
    Watcher w;
    app.addObserver(&w);
    {
        BusyCursor busy;
        EXPECT_EQ(ui.cursor(), Cursor::Hourglass);
    }
    EXPECT_EQ(ui.cursor(), Cursor::Default);
    app.setCursor(Cursor::Hourglass);
    EXPECT_EQ(currentCursor(), Cursor::Hourglass);
    app.setCursor(Cursor::Default);
    EXPECT_THAT(w.seen, ElementsAre("busy", "arrow", "busy", "arrow"));
    app.removeObserver(&w);
}

TEST_F(Fixture, ObserversSeeEveryStateChangeOnce) {
    Form& f = build();
    Watcher w;
    app.addObserver(&w);
    auto tag = [](const char* name, Change c) {
        return std::string(name) + "/" + std::to_string(static_cast<int>(c));
    };
    f.setStayOnTop(true);
    f.setStayOnTop(true);
    f.get<CheckBox>("Case").setVisible(false);
    f.get<CheckBox>("Case").setVisible(false);
    f.get<SpinEdit>("Taux").setValue(100); // same text
    EXPECT_THAT(w.seen, ElementsAre(tag("Dlg", Change::StayOnTop), tag("Case", Change::Visible)));
    app.removeObserver(&w);
}

// A view ----------------------------------------------------------------------------------

// What a real view does: shows forms, runs the modal loop on its own input,
// drives timers with its own clock.
class FakeView : public Backend {
  public:
    std::vector<std::string> calls;
    std::vector<std::function<void()>> input; // what the user will do, in order
    std::map<TimerId, std::function<void()>> timers;

    void showForm(Form& f) override { calls.push_back("show " + f.name()); }
    void hideForm(Form& f) override { calls.push_back("hide " + f.name()); }
    void runModalStep(Form& f) override {
        calls.push_back("turn " + f.name());
        if (input.empty()) throw ToolkitError("the user has nothing left to do");
        auto next = input.front();
        input.erase(input.begin());
        next();
    }
    void startTimer(TimerId id, int ms, std::function<void()> tick) override {
        calls.push_back("start " + std::to_string(ms));
        timers[id] = std::move(tick);
    }
    void stopTimer(TimerId id) override {
        if (timers.erase(id)) calls.push_back("stop");
    }
    void showBox(const Box& b) override { calls.push_back("box " + b.text); }
    void showCursor(Cursor c) override {
        calls.push_back(c == Cursor::Hourglass ? "busy" : "arrow");
    }
};

TEST(View, DrivesFormsTimersBoxesAndTheCursorThroughTheBackend) {
    auto owned = std::make_unique<FakeView>();
    FakeView& view = *owned;
    Application app(std::move(owned));
    Automation ui(app);
    EXPECT_EQ(app.headless(), nullptr);
    EXPECT_THROW(ui.advance(10), ToolkitError);

    int ticks = 0;
    Form& f = app.createForm<Form>(
        FormDesc{.name = "F",
                 .controls = {{.kind = K::Timer, .name = "T", .enabled = false, .interval = 200},
                              {.kind = K::Button, .name = "Echec"},
                              {.kind = K::BitBtn, .name = "Ok", .buttonKind = ButtonKind::Ok}}});
    f.bind("T", EventKind::Timer, [&] { ++ticks; });
    f.bind("Echec", EventKind::Click, [] { throw Exception("Echec"); });
    view.input.push_back([&] { f.get<Timer>("T").setEnabled(true); });
    view.input.push_back([&] { view.timers.begin()->second(); }); // the view's clock fires
    view.input.push_back([&] { ui.click("F.Echec"); });           // real input, routed
    view.input.push_back([&] { ui.click("F.Ok"); });
    {
        BusyCursor busy;
        EXPECT_EQ(f.showModal(), ModalResult::Ok);
    }
    EXPECT_EQ(ticks, 1);
    EXPECT_THAT(view.calls, ElementsAre("busy", "show F", "turn F", "start 200", "turn F", "turn F",
                                        "box Echec.", "turn F", "hide F", "arrow"));
}

// Locale ------------------------------------------------------------------------------------

TEST(FormatFixed, WritesTwoDecimalsWithTheUsersSeparator) {
    setDecimalSeparator(",");
    struct Case {
        long double x;
        const char* text;
    };
    const Case cases[] = {
        {0.0L, "0,00"},         {25 / 10.0L, "2,50"}, {1 / 10.0L, "0,10"},
        {100 / 10.0L, "10,00"}, {99 / 10.0L, "9,90"}, {-2.5L, "-2,50"},
        {0.005L, "0,01"},       {0.004L, "0,00"},     {2.25L, "2,30"}, // two significant digits
        {1234.0L, "1,2E+003"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(formatFixed(c.x, 2, 2), c.text) << static_cast<double>(c.x);
    setDecimalSeparator(".");
    EXPECT_EQ(formatFixed(2.5L, 2, 2), "2.50");
    resetDecimalSeparator();
}

TEST(DecimalSeparator, ComesFromTheEnvironmentsLocale) {
    resetDecimalSeparator();
    ::setenv("LC_ALL", "C", 1);
    EXPECT_EQ(decimalSeparator(), ".");
    ::setenv("LC_ALL", "xx_NOWHERE.UTF-8", 1); // not installed: the plain point
    resetDecimalSeparator();
    EXPECT_EQ(decimalSeparator(), ".");
    ::unsetenv("LC_ALL");
    resetDecimalSeparator();
}

} // namespace
} // namespace talvine::tk
