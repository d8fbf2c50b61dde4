// With no sound server to reach, the program says there is no output device
// and ends as soon as start-up is over, and Play says the device cannot be
// opened.
#include "app/mfunit.h"
#include "app/program.h"
#include "controls/qmblsbtn.h"
#include "tests/app/apptest.h"

#include <QDir>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

TEST(NoSoundServer, StartUpReportsNoOutputDeviceAndTheProgramEnds)
{
    // A server address where nothing listens; nothing is started in its place.
    QTemporaryDir nowhere;
    ASSERT_TRUE(nowhere.isValid());
    const QByteArray address = "unix:" + QDir(nowhere.path()).filePath(QStringLiteral("native")).toLocal8Bit();
    setenv("PULSE_SERVER", address.constData(), 1);
    setenv("PULSE_AUTOSPAWN", "no", 1);

    TestApp();
    // The program reads its preferences at start: not the user's.
    QTemporaryDir settings;
    ASSERT_TRUE(settings.isValid());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.path());
    RecordedMessages messages;
    // Only so that a program that fails to end cannot hang the test run.
    bool stoppedByTest = false;
    QTimer::singleShot(60000, [&stoppedByTest] {
        stoppedByTest = true;
        QApplication::quit();
    });

    const int result = RunGlimmerbox();

    EXPECT_FALSE(stoppedByTest) << "the program did not end by itself";
    EXPECT_EQ(result, 0);
    ASSERT_EQ(messages.Shown.size(), 1u);
    EXPECT_EQ(messages.Shown[0].first, "There are no Wave Out Devices installed on your system, Terminating...");
    EXPECT_EQ(messages.Shown[0].second, "Tamblor Glimmerbox");
    EXPECT_FALSE(MixerReady);
    EXPECT_EQ(MainForm, nullptr);
}

TEST(NoSoundServer, PlaySaysTheDeviceCannotBeOpenedAndPutsTheButtonUp)
{
    QTemporaryDir nowhere;
    ASSERT_TRUE(nowhere.isValid());
    const QByteArray address = "unix:" + QDir(nowhere.path()).filePath(QStringLiteral("native")).toLocal8Bit();
    setenv("PULSE_SERVER", address.constData(), 1);
    setenv("PULSE_AUTOSPAWN", "no", 1);

    TestApp();
    RecordedMessages messages;
    TMainForm form;
    form.Timer->stop();
    form.VoiceBytes = 200;
    form.VoiceData = std::make_unique<int16_t[]>(100);
    form.WorkCapacity = 200;
    form.WorkData = std::make_unique<int16_t[]>(100);

    QTest::mouseClick(form.PlayButton, Qt::LeftButton, {}, QPoint(43, 26));
    ASSERT_EQ(messages.Shown.size(), 1u);
    EXPECT_EQ(messages.Shown[0].first, "Error: Cannot open the Wave Output Device");
    EXPECT_EQ(messages.Shown[0].second, "Tamblor Glimmerbox");
    EXPECT_FALSE(form.PlayButton->Down());
    EXPECT_FALSE(form.Playing);
    EXPECT_EQ(form.WaveOut, nullptr);
    EXPECT_EQ(form.WaveHeaders[0].lpData, nullptr) << "nothing is allocated";
    EXPECT_EQ(form.WorkBytes, 200) << "the voice was processed first";
}

} // namespace
