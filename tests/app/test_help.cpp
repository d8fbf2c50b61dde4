// SPDX-License-Identifier: GPL-3.0-or-later
// The help window and its pages: both help commands open the right page,
// every link leads to a page that exists, and the pages describe every
// effect, control and command of the program.
#include "app/helpunit.h"
#include "tests/app/apptest.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTextBrowser>
#include <QToolButton>

#include <gtest/gtest.h>

namespace {

class HelpTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        TestApp();
        window = std::make_unique<THelpWindow>(nullptr);
    }
    std::unique_ptr<THelpWindow> window;
};

QString AllHelpText()
{
    QString text;
    for (const QString &name : QDir(QStringLiteral(":/help")).entryList({QStringLiteral("*.html")})) {
        QFile page(QStringLiteral(":/help/") + name);
        EXPECT_TRUE(page.open(QIODevice::ReadOnly)) << name.toStdString();
        text += QString::fromUtf8(page.readAll());
    }
    return text;
}

TEST_F(HelpTest, HelpTopicsOpensTheContents)
{
    window->ShowContents();
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->Browser->source(), QUrl(QStringLiteral("qrc:/help/index.html")));
    EXPECT_TRUE(window->Browser->toPlainText().contains(QStringLiteral("Contents")));
}

TEST_F(HelpTest, HowToUseHelpOpensThePageOnTheHelpWindow)
{
    window->ShowHelpOnHelp();
    EXPECT_EQ(window->Browser->source(), QUrl(QStringLiteral("qrc:/help/usinghelp.html")));
    EXPECT_TRUE(window->Browser->toPlainText().contains(QStringLiteral("How to use this help window")));
}

TEST_F(HelpTest, BackReturnsToThePageBefore)
{
    window->ShowContents();
    window->ShowHelpOnHelp();
    ASSERT_TRUE(window->BackButton->isEnabled());
    window->BackButton->click();
    EXPECT_EQ(window->Browser->source(), QUrl(QStringLiteral("qrc:/help/index.html")));
    EXPECT_TRUE(window->ForwardButton->isEnabled());
}

TEST_F(HelpTest, EveryLinkLeadsToAnExistingPage)
{
    const QRegularExpression link(QStringLiteral("href=\"([^\"#]+)"));
    int links = 0;
    for (const QString &name : QDir(QStringLiteral(":/help")).entryList({QStringLiteral("*.html")})) {
        QFile page(QStringLiteral(":/help/") + name);
        ASSERT_TRUE(page.open(QIODevice::ReadOnly));
        const QString html = QString::fromUtf8(page.readAll());
        for (auto match = link.globalMatch(html); match.hasNext();) {
            const QString target = match.next().captured(1);
            EXPECT_TRUE(QFile::exists(QStringLiteral(":/help/") + target))
                << name.toStdString() << " links to missing " << target.toStdString();
            ++links;
        }
    }
    EXPECT_GT(links, 20);
}

TEST_F(HelpTest, ContentsReachesEveryPage)
{
    QFile index(QStringLiteral(":/help/index.html"));
    ASSERT_TRUE(index.open(QIODevice::ReadOnly));
    const QString html = QString::fromUtf8(index.readAll());
    for (const QString &name : QDir(QStringLiteral(":/help")).entryList({QStringLiteral("*.html")})) {
        if (name != QStringLiteral("index.html")) {
            EXPECT_TRUE(html.contains(QStringLiteral("href=\"") + name)) << name.toStdString();
        }
    }
}

TEST_F(HelpTest, PagesDescribeEveryEffectControlAndCommand)
{
    const QString text = AllHelpText();
    const char *subjects[] = {// effects and the pitch slider
                              "Echo", "Chorus", "Flange", "Robot Voice", "Backward", "Fade In", "Fade Out", "Bass Only",
                              "Treble Only", "Sweep Up", "Sweep Down", "Slow Monster", "Fast Squeaker", "Helium Breath",
                              "Sulphur Breath",
                              // controls
                              "Play", "Record", "level meter", "Time display", "Waveform display",
                              "Record volume slider", "Play volume slider", "input button", "SF1", "SF2", "SF3",
                              // commands
                              "New", "Open...", "Save As...", "to WAVE File...", "to RealAudio File...",
                              "to MP3 File...", "Exit", "Help Topics", "How To Use Help", "About", "Space"};
    for (const char *subject : subjects)
        EXPECT_TRUE(text.contains(QString::fromUtf8(subject), Qt::CaseInsensitive)) << subject;
}

TEST_F(HelpTest, MessagesPageExplainsEveryRecordingMessage)
{
    QFile page(QStringLiteral(":/help/messages.html"));
    ASSERT_TRUE(page.open(QIODevice::ReadOnly));
    const QString html = QString::fromUtf8(page.readAll());
    const char *shown[] = {"Your device is unable to record at the rate or mode you have selected.",
                           "Unable to allocate sufficient memory for record operation.",
                           "Unable to open file for temporary storage of record data.",
                           "Your device is unavailable or unable to record .",
                           "Unable to start recording.",
                           "Recording already in progress.",
                           "Recording file not specified.",
                           "Recording stopped: the sound input is no longer available.",
                           "cannot allocate memory!!!",
                           " is full: the recording stopped when it ran out of room. What fitted is kept as the voice.",
                           "The recording's file in the temporary folder ",
                           " reached the largest size allowed: the recording stopped there. What fitted is kept as "
                           "the voice.",
                           "The recording could not be written to the temporary folder ",
                           "): the recording stopped there. What fitted is kept as the voice.",
                           "Create final buffer failed. The recording is kept in the file"};
    for (const char *text : shown)
        EXPECT_TRUE(html.contains(QString::fromUtf8(text))) << text;
}

TEST_F(HelpTest, MessagesPageExplainsTheFileMessages)
{
    QFile page(QStringLiteral(":/help/messages.html"));
    ASSERT_TRUE(page.open(QIODevice::ReadOnly));
    const QString html = QString::fromUtf8(page.readAll());
    const char *shown[] = {"File not found: ",
                           " is full or not writable: ",
                           "Start-up file not found: ",
                           "It is no longer opened at start-up; Options, Preferences names another.",
                           "Error: The Lame Encoder cannot encode this file at the selected bit-rate.",
                           "Error: User Abort",
                           "Error: Space Not Available",
                           "Cannot write the file "};
    for (const char *text : shown)
        EXPECT_TRUE(html.contains(QString::fromUtf8(text))) << text;
}

TEST_F(HelpTest, RecordingIsDescribedAsAvailable)
{
    for (const char *name : {"recording.html", "window.html", "quickstart.html"}) {
        QFile page(QStringLiteral(":/help/") + QString::fromLatin1(name));
        ASSERT_TRUE(page.open(QIODevice::ReadOnly)) << name;
        EXPECT_FALSE(QString::fromUtf8(page.readAll()).contains(QStringLiteral("not available"))) << name;
    }
}

} // namespace
