// The application object as the library starts and stops it: it owns the
// five dialogs, hidden, and takes the engines' busy cursor.
#include "plugin/Library.h"
#include "toolkit/Application.h"

#include <gtest/gtest.h>

namespace talvine {
namespace {

TEST(ToolkitInLibrary, ApplicationOwnsTheHiddenDialogsUntilShutDown) {
    ASSERT_TRUE(startLibrary());
    ASSERT_TRUE(talvine::hasApplication());
    tk::Application& app = talvine::application();
    for (const char* name : {"InclineHorz", "RogneImg", "ChangeDim", "CorrDist", "CorrPerspect"}) {
        tk::Form* form = app.findForm(name);
        ASSERT_NE(form, nullptr) << name;
        EXPECT_FALSE(form->visible()) << name;
    }
    {
        BusyCursor busy;
        EXPECT_EQ(app.cursor(), Cursor::Hourglass);
    }
    EXPECT_EQ(app.cursor(), Cursor::Default);

    stopLibrary();
    EXPECT_FALSE(talvine::hasApplication());
    EXPECT_THROW(talvine::application(), tk::ToolkitError);

    // Started again, as a module loaded again: five hidden dialogs anew.
    ASSERT_TRUE(startLibrary());
    for (const char* name : {"InclineHorz", "RogneImg", "ChangeDim", "CorrDist", "CorrPerspect"})
        EXPECT_NE(talvine::application().findForm(name), nullptr) << name;
    stopLibrary();
    EXPECT_FALSE(talvine::hasApplication());
}

} // namespace
} // namespace talvine
