// SPDX-License-Identifier: GPL-3.0-or-later
// The about box and the version it shows.
#include "app/aboutunit.h"
#include "app/helpunit.h"
#include "tests/app/apptest.h"

#include <QDesktopServices>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>

#include <gtest/gtest.h>

namespace {

class AboutBoxTest : public ::testing::Test {
protected:
    void SetUp() override { TestApp(); }
};

// Stands in for the desktop's browser: records the addresses it is asked to
// open while it is registered for http and https.
class BrowserRecorder : public QObject {
    Q_OBJECT
public:
    BrowserRecorder()
    {
        QDesktopServices::setUrlHandler(QStringLiteral("http"), this, "Open");
        QDesktopServices::setUrlHandler(QStringLiteral("https"), this, "Open");
    }
    ~BrowserRecorder() override
    {
        QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
        QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
    }
    QList<QUrl> Opened;

public slots:
    void Open(const QUrl &address) { Opened.append(address); }
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

TEST(WebSiteAddress, ConfiguredHomePageIsUsedAsGiven)
{
    EXPECT_EQ(WebSiteAddressFrom("https://voices.example.net/glimmerbox/"),
              QUrl(QStringLiteral("https://voices.example.net/glimmerbox/")));
    EXPECT_EQ(WebSiteAddressFrom(" http://host.example/a "), QUrl(QStringLiteral("http://host.example/a")));
}

TEST(WebSiteAddress, WithoutHomePageTheHelpPageAboutTheProgramIsUsed)
{
    for (const char *configured : {static_cast<const char *>(nullptr), "", "   "})
        EXPECT_EQ(WebSiteAddressFrom(configured), QUrl(QStringLiteral("qrc:/help/about.html")));
}

TEST_F(AboutBoxTest, DefaultBuildLeadsToAnExistingHelpPage)
{
    // EXPECTED_HOME_PAGE is the build's GLIMMER_HOME_PAGE, empty by default.
    TAboutBox box(nullptr);
    EXPECT_EQ(box.WebAddress, WebSiteAddressFrom(EXPECTED_HOME_PAGE));
    if (QString::fromUtf8(EXPECTED_HOME_PAGE).trimmed().isEmpty()) {
        const THelpWindow help(nullptr); // registers the help pages
        QFile page(QStringLiteral(":/help/about.html"));
        ASSERT_TRUE(page.open(QIODevice::ReadOnly));
        EXPECT_TRUE(QString::fromUtf8(page.readAll()).contains(QStringLiteral("Visit the Web Site")));
    }
}

TEST_F(AboutBoxTest, WebButtonWithoutHomePageAsksForTheHelpPageAndOpensNoBrowser)
{
    BrowserRecorder browser;
    TAboutBox box(nullptr);
    box.WebAddress = WebSiteAddressFrom("");
    QSignalSpy wanted(&box, &TAboutBox::HelpPageWanted);
    box.show();
    box.WebButton->click();
    ASSERT_EQ(wanted.count(), 1);
    EXPECT_EQ(wanted.at(0).at(0).toUrl(), QUrl(QStringLiteral("qrc:/help/about.html")));
    EXPECT_TRUE(browser.Opened.isEmpty());
    EXPECT_FALSE(box.isVisible());
}

TEST_F(AboutBoxTest, WebButtonWithHomePageOpensItInTheBrowser)
{
    BrowserRecorder browser;
    TAboutBox box(nullptr);
    box.WebAddress = WebSiteAddressFrom("https://voices.example.net/");
    QSignalSpy wanted(&box, &TAboutBox::HelpPageWanted);
    box.show();
    box.WebButton->click();
    EXPECT_EQ(wanted.count(), 0);
    ASSERT_EQ(browser.Opened.size(), 1);
    EXPECT_EQ(browser.Opened[0], QUrl(QStringLiteral("https://voices.example.net/")));
    EXPECT_FALSE(box.isVisible());
}

} // namespace

#include "test_about.moc"
