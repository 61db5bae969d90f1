// The numeric field: the text-to-integer conversion, the range check and the
// two French messages, as the dialogs see them through Initialiser and
// Verifier.
#include "toolkit/Application.h"
#include "toolkit/Headless.h"
#include "toolkit/UtilPlus.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>

namespace talvine::tk {
namespace {

TEST(ParseInt, FollowsTheStandardConversion) {
    struct Case {
        const char* text;
        std::optional<std::int32_t> value;
    };
    const Case cases[] = {
        {"12", 12},
        {"   12", 12},
        {"+12", 12},
        {"-12", -12},
        {"007", 7},
        {"$1F", 31},
        {"0x1F", 31},
        {"0X1f", 31},
        {"x1F", 31},
        {"X1F", 31},
        {"$FFFFFFFF", -1},
        {"$80000000", INT32_MIN},
        {"$0000000001", 1},
        {"2147483647", INT32_MAX},
        {"-2147483648", INT32_MIN},
        {"", std::nullopt},
        {"   ", std::nullopt},
        {"12 ", std::nullopt},
        {"12abc", std::nullopt},
        {"\t12", std::nullopt},
        {"-", std::nullopt},
        {"+", std::nullopt},
        {"$", std::nullopt},
        {"0x", std::nullopt},
        {"-$1F", std::nullopt},
        {"+0x1F", std::nullopt},
        {"$1G", std::nullopt},
        {"$100000000", std::nullopt},
        {"2147483648", std::nullopt},
        {"-2147483649", std::nullopt},
        {"99999999999999999999", std::nullopt},
        {"1 2", std::nullopt},
        {"12,5", std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(parseInt(c.text), c.value) << '"' << c.text << '"';
}

TEST(StrToInt, NamesTheTextAsTypedInItsError) {
    try {
        strToInt(" 12a");
        FAIL();
    } catch (const EConvertError& e) {
        EXPECT_STREQ(e.what(), "' 12a' n'est pas une valeur entière correcte");
    }
    EXPECT_EQ(strToIntDef("abc", 7), 7);
}

class EditValTest : public ::testing::Test {
  protected:
    Application app;
    int changes = 0;
    Form& form = app.createForm<Form>(
        FormDesc{.name = "F", .controls = {{.kind = ControlKind::EditVal, .name = "Champ"}}});
    EditValTest() {
        form.bind("Champ", EventKind::Change, [this] { ++changes; });
    }
    TEditVal& field = form.get<TEditVal>("Champ");

    void verify(const char* text) {
        field.setText(text);
        field.Verifier();
    }
};

TEST_F(EditValTest, StartsWithoutRangeAndWithAnEmptyTitle) {
    EXPECT_EQ(field.Valeur, 0);
    EXPECT_EQ(field.Mini, 0);
    EXPECT_EQ(field.Maxi, 0);
    EXPECT_EQ(field.Titre(), "");
    field.setTitre("une étiquette beaucoup trop longue pour tenir");
    EXPECT_EQ(field.Titre(), "une étiquette beaucoup trop long");
}

TEST_F(EditValTest, InitialiserShowsTheValueAndChangesOnlyOnANewText) {
    field.Initialiser(640, 0, 640);
    EXPECT_EQ(field.text(), "640");
    EXPECT_EQ(changes, 1);
    field.Initialiser(640, 0, 1280);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(field.Maxi, 1280);
    field.Initialiser(-5, 0, 10); // not checked against the range
    EXPECT_EQ(field.text(), "-5");
    EXPECT_EQ(field.Valeur, -5);
    EXPECT_EQ(changes, 2);
}

TEST_F(EditValTest, VerifierAcceptsTheBoundsAndRejectsBeyondThem) {
    field.Initialiser(0, 0, 640);
    verify("640");
    EXPECT_EQ(field.Valeur, 640);
    verify(" 0");
    EXPECT_EQ(field.Valeur, 0);
    try {
        verify("641");
        FAIL();
    } catch (const EHorsDomaine& e) {
        EXPECT_STREQ(e.what(), "641 n'est pas dans l'intervalle requis 0 .. 640");
    }
    try {
        verify("-1");
        FAIL();
    } catch (const EHorsDomaine& e) {
        EXPECT_STREQ(e.what(), "-1 n'est pas dans l'intervalle requis 0 .. 640");
    }
    EXPECT_EQ(field.Valeur, 0);
    EXPECT_EQ(field.text(), "-1"); // the text stays as typed
}

TEST_F(EditValTest, FailedVerifierKeepsTheLastAcceptedValue) {
    field.Initialiser(100, 0, 640);
    verify("200");
    EXPECT_THROW(verify("2OO"), EConvertError);
    EXPECT_THROW(verify(""), EConvertError);
    EXPECT_THROW(verify("700"), EHorsDomaine);
    EXPECT_EQ(field.Valeur, 200);
}

TEST_F(EditValTest, ZeroBoundsMeanNoRange) {
    verify("-123456");
    EXPECT_EQ(field.Valeur, -123456);
    field.Initialiser(0, 0, 0);
    verify("$FFFFFFFF");
    EXPECT_EQ(field.Valeur, -1);
}

TEST_F(EditValTest, InvertedBoundsRejectEveryValue) {
    field.Initialiser(5, 10, 1);
    EXPECT_THROW(verify("5"), EHorsDomaine);
    EXPECT_THROW(verify("10"), EHorsDomaine);
    EXPECT_THROW(verify("1"), EHorsDomaine);
}

TEST_F(EditValTest, ErrorsAreShownWithAFullStopWhenTheyEscapeAHandler) {
    // The field itself catches nothing: the toolkit's standard handler shows
    // the message in an error box.
    field.Initialiser(0, 0, 640);
    field.setText("abc");
    app.dispatch([&] { field.Verifier(); });
    ASSERT_EQ(app.headless()->boxes().size(), 1u);
    EXPECT_EQ(app.headless()->boxes()[0].text, "'abc' n'est pas une valeur entière correcte.");
}

} // namespace
} // namespace talvine::tk
