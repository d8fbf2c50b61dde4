// With no sound server to reach, the program says there is no output device
// and ends as soon as start-up is over.
#include "app/mfunit.h"
#include "app/program.h"
#include "tests/app/apptest.h"

#include <QDir>
#include <QTemporaryDir>
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

} // namespace
