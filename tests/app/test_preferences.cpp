// SPDX-License-Identifier: GPL-3.0-or-later
// The preferences dialog: its controls, OK refusing a file that does not
// exist, Browse, the two values kept between runs, and what the program
// does with them at start-up (playing is tested with the sound server in
// test_playback.cpp). The settings live in a folder of the test's own.
#include "app/mfunit.h"
#include "app/startupunit.h"
#include "audio/soundfile.h"
#include "audio/wavefile.h"
#include "tests/app/apptest.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>

namespace {

class Preferences : public ::testing::Test {
protected:
    void SetUp() override
    {
        TestApp();
        ASSERT_TRUE(settingsFolder.isValid());
        ASSERT_TRUE(folder.isValid());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsFolder.path());
        wave = folder.filePath(QStringLiteral("start.wav"));
        const int16_t samples[4] = {1, -1, 2, -2};
        ASSERT_TRUE(WriteWaveFile(wave.toStdString(), 22050, 16, 1, samples, 8));
    }

    void TearDown() override { SetFileDialogAnswerer({}); }

    RecordedMessages messages;
    QTemporaryDir settingsFolder;
    QTemporaryDir folder;
    QString wave;
};

TEST_F(Preferences, DialogHasItsControlsAndTexts)
{
    TStartup dialog;
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Preferences"));
    EXPECT_EQ(dialog.size(), QSize(351, 186)); // rows taller for the playback and live choices
    EXPECT_EQ(dialog.LiveOutput->count(), 3);
    EXPECT_EQ(dialog.LiveOutput->currentIndex(), 0) << "the virtual microphone until another is chosen";
    EXPECT_EQ(dialog.PlaySoundAtStartup->text(), QStringLiteral("Play Sound at Startup"));
    EXPECT_EQ(dialog.HearEffectChanges->text(), QStringLiteral("Hear effect changes while playing"));
    EXPECT_FALSE(dialog.PlaySoundAtStartup->isChecked());
    EXPECT_EQ(dialog.Label1->text(), QStringLiteral("Startup File Name"));
    EXPECT_EQ(dialog.FileName->text(), QString()) << "no start-up file until one is named";
    EXPECT_EQ(dialog.BrowseButton->text(), QStringLiteral("&Browse"));
    EXPECT_EQ(dialog.okButton->text(), QStringLiteral("&Ok"));
    EXPECT_TRUE(dialog.okButton->isDefault());
    EXPECT_EQ(dialog.cancelButton->text(), QStringLiteral("&Cancel"));
    EXPECT_EQ(dialog.BrowseFileDialog.Title, "Browse");
    // The start-up file may be any sound file that opens.
    EXPECT_EQ(dialog.BrowseFileDialog.FilterName, "Sound Files");
    EXPECT_EQ(dialog.BrowseFileDialog.FilterPattern, SoundFilePattern());
    EXPECT_EQ(dialog.BrowseFileDialog.MoreFilters,
              (std::vector<std::pair<std::string, std::string>>{{"Wave Files", "*.wav"}, {"All Files", "*"}}));
    EXPECT_TRUE(dialog.BrowseFileDialog.FileMustExist);
}

TEST_F(Preferences, OkWithAFileThatDoesNotExistSaysSoAndStaysOpen)
{
    TStartup dialog;
    dialog.show();
    for (const QString &name : {QStringLiteral("/no/such/voice.wav"), folder.path()}) {
        dialog.FileName->setText(name);
        QTest::mouseClick(dialog.okButton, Qt::LeftButton);
        EXPECT_TRUE(dialog.isVisible()) << name.toStdString();
        EXPECT_EQ(dialog.FileName->text(), name) << "kept for correction";
    }
    ASSERT_EQ(messages.Shown.size(), 2u);
    EXPECT_EQ(messages.Shown[0].first, "File : /no/such/voice.wav : does not exist!");
    EXPECT_EQ(messages.Shown[0].second, "File Name Error");
    EXPECT_EQ(messages.Shown[1].first, "File : " + folder.path().toStdString() + " : does not exist!")
        << "a folder is not a voice file";

    dialog.FileName->setText(wave);
    QTest::mouseClick(dialog.okButton, Qt::LeftButton);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(messages.Shown.size(), 2u);
}

TEST_F(Preferences, OkTakesAnEmptyNameAsNoStartUpFileAndKeepsNamesAbsolute)
{
    // Typed relative to the folder the program runs in, stored absolute.
    const QString before = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(folder.path()));
    const struct {
        const char *Name;
        QString Typed;
        bool Play;
        std::string Stored;
    } cases[] = {
        {"relative name", QStringLiteral("start.wav"), false, wave.toStdString()},
        {"name with dots", QStringLiteral("./sub/../start.wav"), true, wave.toStdString()},
        {"empty: cleared", QString(), false, ""},
        {"blanks: cleared", QStringLiteral("   "), true, ""},
        {"absolute name", wave, false, wave.toStdString()},
    };
    ASSERT_TRUE(QDir(folder.path()).mkdir(QStringLiteral("sub")));
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Name);
        TStartup dialog;
        dialog.show();
        dialog.PlaySoundAtStartup->setChecked(c.Play);
        dialog.FileName->setText(c.Typed);
        QTest::mouseClick(dialog.okButton, Qt::LeftButton);
        ASSERT_EQ(dialog.result(), QDialog::Accepted);
        dialog.SavePreferences();
        const TStartupPreferences stored = TStartup::StoredPreferences();
        EXPECT_EQ(stored.FileName, c.Stored);
        EXPECT_EQ(stored.PlaySound, c.Play);
    }
    ASSERT_TRUE(QDir::setCurrent(before));
    EXPECT_TRUE(messages.Shown.empty());

    // Started elsewhere, the stored name still opens the file.
    TStartup dialog;
    dialog.FileName->setText(QStringLiteral("start.wav"));
    ASSERT_TRUE(QDir::setCurrent(folder.path()));
    dialog.show();
    QTest::mouseClick(dialog.okButton, Qt::LeftButton);
    dialog.SavePreferences();
    ASSERT_TRUE(QDir::setCurrent(before));
    TMainForm form;
    form.Timer->stop();
    form.OpenStartupFile();
    EXPECT_EQ(form.Document.VoiceBytes, 8);
    EXPECT_TRUE(messages.Shown.empty());
}

TEST_F(Preferences, OnlyTickingPlaySoundIsAcceptedAndOpensNothing)
{
    TMainForm form;
    form.Timer->stop();
    QTimer::singleShot(0, [] {
        Startup->PlaySoundAtStartup->setChecked(true);
        QTest::mouseClick(Startup->okButton, Qt::LeftButton);
    });
    form.Preferences1->trigger();
    EXPECT_TRUE(messages.Shown.empty());
    const TStartupPreferences stored = TStartup::StoredPreferences();
    EXPECT_TRUE(stored.PlaySound);
    EXPECT_TRUE(stored.FileName.empty());
    form.OpenStartupFile();
    EXPECT_EQ(form.Document.VoiceBytes, 0);
    EXPECT_FALSE(form.Player.Playing);
    EXPECT_TRUE(messages.Shown.empty());
}

TEST_F(Preferences, BrowseFillsTheNameAndACancelLeavesIt)
{
    TStartup dialog;
    std::string answer;
    std::string title;
    SetFileDialogAnswerer([&](TFileDialog &fileDialog, QWidget *) {
        title = fileDialog.Title;
        if (answer.empty())
            return false;
        fileDialog.FileName = answer;
        return true;
    });
    dialog.FileName->setText(QStringLiteral("typed.wav"));
    QTest::mouseClick(dialog.BrowseButton, Qt::LeftButton);
    EXPECT_EQ(title, "Browse");
    EXPECT_EQ(dialog.FileName->text(), QStringLiteral("typed.wav"));
    answer = wave.toStdString();
    QTest::mouseClick(dialog.BrowseButton, Qt::LeftButton);
    EXPECT_EQ(dialog.FileName->text(), wave);
}

TEST_F(Preferences, TheMenuItemKeepsWhatOkConfirmsAndForgetsACancel)
{
    TMainForm form;
    form.Timer->stop();
    auto answerWith = [&](bool play, const QString &name, bool ok) {
        QTimer::singleShot(0, [&, play, name, ok] {
            ASSERT_EQ(QApplication::activeModalWidget(), Startup);
            Startup->PlaySoundAtStartup->setChecked(play);
            Startup->FileName->setText(name);
            QTest::mouseClick(ok ? Startup->okButton : Startup->cancelButton, Qt::LeftButton);
        });
        form.Preferences1->trigger();
    };

    answerWith(true, wave, true);
    TStartupPreferences stored = TStartup::StoredPreferences();
    EXPECT_EQ(stored.FileName, wave.toStdString());
    EXPECT_TRUE(stored.PlaySound);

    answerWith(false, QStringLiteral("/elsewhere.wav"), false);
    stored = TStartup::StoredPreferences();
    EXPECT_EQ(stored.FileName, wave.toStdString());
    EXPECT_TRUE(stored.PlaySound);

    // Opened again, the dialog shows what is kept, not what was cancelled.
    QString shown;
    QTimer::singleShot(0, [&] {
        shown = Startup->FileName->text();
        Startup->cancelButton->click();
    });
    form.Preferences1->trigger();
    EXPECT_EQ(shown, wave);
    EXPECT_TRUE(messages.Shown.empty());
}

TEST_F(Preferences, StartUpOpensTheKeptFileWithoutPlayingUnlessAsked)
{
    TMainForm form;
    form.Timer->stop();
    form.UpdateTitle(); // as start-up leaves it
    form.OpenStartupFile();
    EXPECT_EQ(form.windowTitle(), QStringLiteral("Glimmerbox - New File")) << "nothing kept, nothing opened";

    TStartup dialog;
    dialog.FileName->setText(wave);
    dialog.SavePreferences();
    form.OpenStartupFile();
    EXPECT_EQ(form.windowTitle(), QStringLiteral("Glimmerbox - start.wav"));
    EXPECT_EQ(form.Document.VoiceBytes, 8);
    EXPECT_FALSE(form.Player.Playing);
    EXPECT_TRUE(messages.Shown.empty());

    // Gone since: said once, and the setting goes with it.
    ASSERT_TRUE(QFile::remove(wave));
    form.OpenStartupFile();
    ASSERT_EQ(messages.Shown.size(), 1u);
    EXPECT_EQ(messages.Shown[0].first, "Start-up file not found: " + wave.toStdString() +
                                           ". It is no longer opened at start-up; Options, Preferences names another.");
    EXPECT_EQ(form.Document.VoiceBytes, 8) << "the voice in memory stays";
    EXPECT_TRUE(TStartup::StoredPreferences().FileName.empty());
    form.OpenStartupFile();
    EXPECT_EQ(messages.Shown.size(), 1u) << "the next start is quiet";
}

} // namespace

TEST_F(Preferences, HearingEffectChangesWhilePlayingIsOnUntilOkStoresItOff)
{
    TMainForm form;
    form.Timer->stop();
    EXPECT_TRUE(TStartup::StoredPreferences().HearChanges) << "on by default";
    EXPECT_TRUE(form.HearChangesWhilePlaying);
    const struct {
        const char *Name;
        QPushButton *TStartup::*Button;
        bool Expected;
    } cases[] = {
        {"Cancel keeps it on", &TStartup::cancelButton, true},
        {"Ok stores it off", &TStartup::okButton, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Name);
        QTimer::singleShot(0, [&c] {
            EXPECT_TRUE(Startup->HearEffectChanges->isChecked());
            Startup->HearEffectChanges->setChecked(false);
            QTest::mouseClick(Startup->*c.Button, Qt::LeftButton);
        });
        form.Preferences1->trigger();
        EXPECT_EQ(form.HearChangesWhilePlaying, c.Expected);
        EXPECT_EQ(TStartup::StoredPreferences().HearChanges, c.Expected);
    }
    EXPECT_TRUE(messages.Shown.empty());
}
