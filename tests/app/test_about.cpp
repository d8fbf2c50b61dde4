// The about box and the version it shows.
#include "app/aboutunit.h"
#include "tests/app/apptest.h"

#include <QLabel>
#include <QPushButton>

#include <gtest/gtest.h>

namespace {

class AboutBoxTest : public ::testing::Test {
protected:
    void SetUp() override { TestApp(); }
};

TEST(FileVersion, CompiledInVersionIsReturnedAsIs)
{
    EXPECT_EQ(FileVersionFrom("1.3.0.6"), "1.3.0.6");
}

TEST(FileVersion, MissingVersionGivesTheFixedText)
{
    EXPECT_EQ(FileVersionFrom(nullptr), "No Version Information Found");
    EXPECT_EQ(FileVersionFrom(""), "No Version Information Found");
}

TEST(FileVersion, ProgramCarriesTheProjectVersion)
{
    // EXPECTED_VERSION is the CMake project version, handed to this test by
    // its own build rule.
    EXPECT_EQ(GetFileVersionString(), EXPECTED_VERSION);
}

TEST_F(AboutBoxTest, ShowsProductAndVersionUnderItsCaption)
{
    TAboutBox box(nullptr);
    EXPECT_EQ(box.windowTitle(), QStringLiteral("About Quomble"));
    EXPECT_EQ(box.ProductName->text(), QStringLiteral("Quomble"));
    EXPECT_EQ(box.Version->text(), QStringLiteral("Version ") + QStringLiteral(EXPECTED_VERSION));
    EXPECT_EQ(box.OKButton->text(), QStringLiteral("OK"));
    EXPECT_TRUE(box.OKButton->isDefault());
    EXPECT_EQ(box.size(), QSize(367, 226));
    // The OK row is the last thing in the box, 12 pixels above its bottom.
    EXPECT_EQ(box.OKButton->y() + box.OKButton->height() + 12, 226);
    EXPECT_FALSE(box.ProgramIcon->pixmap().isNull());
}

TEST_F(AboutBoxTest, OkClosesTheBoxWithAcceptance)
{
    TAboutBox box(nullptr);
    box.show();
    box.OKButton->click();
    EXPECT_FALSE(box.isVisible());
    EXPECT_EQ(box.result(), QDialog::Accepted);
}

} // namespace
