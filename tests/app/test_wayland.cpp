// SPDX-License-Identifier: GPL-3.0-or-later
// The main window on a Wayland desktop: a private headless weston (pixman
// renderer) is started for the test, the window shown on it through Qt's
// Wayland platform, and the compositor's own screenshots taken before and
// after. The rounded bottom corners must show what lay behind the window.
#include "app/look.h"
#include "app/mfunit.h"

#include <QApplication>
#include <QImage>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

// Starts argv[0] with the other arguments in folder; returns its process id.
pid_t Start(const std::vector<std::string> &argv, const fs::path &folder)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::chdir(folder.c_str()) != 0)
            ::_exit(126);
        std::vector<char *> args;
        for (const std::string &arg : argv)
            args.push_back(const_cast<char *>(arg.c_str()));
        args.push_back(nullptr);
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    return pid;
}

// Waits up to seconds for pid to end; true when it ended with status 0.
bool Finished(pid_t pid, int seconds)
{
    for (int tenth = 0; tenth < seconds * 10; ++tenth) {
        int status = 0;
        if (::waitpid(pid, &status, WNOHANG) == pid)
            return WIFEXITED(status) && WEXITSTATUS(status) == 0;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    return false;
}

class WaylandDesktop : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        std::string pattern = (fs::temp_directory_path() / "gbxwaylandXXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        folder = pattern;
        fs::create_directory(folder / "runtime");
        fs::permissions(folder / "runtime", fs::perms::owner_all);
        setenv("XDG_RUNTIME_DIR", (folder / "runtime").c_str(), 1);
        setenv("WAYLAND_DISPLAY", "glimmer-wayland", 1);
        compositor = Start({"weston", "--backend=headless-backend.so", "--use-pixman", "--socket=glimmer-wayland",
                            "--width=1024", "--height=768", "--idle-time=0", "--debug",
                            "--log=" + (folder / "weston.log").string()},
                           folder);
        ASSERT_GT(compositor, 0);
        for (int tenth = 0; tenth < 200 && !fs::exists(folder / "runtime" / "glimmer-wayland"); ++tenth)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        ASSERT_TRUE(fs::exists(folder / "runtime" / "glimmer-wayland")) << "weston did not start";
        // The shell draws its background a moment after the socket appears.
        std::this_thread::sleep_for(std::chrono::seconds(1));
        // The window alone, without the frame Qt would draw around it.
        setenv("QT_QPA_PLATFORM", "wayland", 1);
        setenv("QT_WAYLAND_DISABLE_WINDOWDECORATION", "1", 1);
    }

    static void TearDownTestSuite()
    {
        // Qt leaves the compositor before it goes away.
        application.reset();
        if (compositor > 0) {
            ::kill(compositor, SIGTERM);
            ::waitpid(compositor, nullptr, 0);
        }
        std::error_code ignored;
        fs::remove_all(folder, ignored);
    }

    // The whole desktop as the compositor shows it.
    static QImage Screenshot(const char *name)
    {
        const fs::path shots = folder / name;
        fs::create_directory(shots);
        EXPECT_TRUE(Finished(Start({"weston-screenshooter"}, shots), 20)) << "weston-screenshooter failed";
        for (const auto &entry : fs::directory_iterator(shots))
            return QImage(QString::fromStdString(entry.path().string())).convertToFormat(QImage::Format_RGB32);
        return {};
    }

    // The desktop once the shell has finished drawing it: screenshots are
    // taken until two in a row agree (on a busy machine the background can
    // come a while after the socket).
    static QImage SettledDesktop()
    {
        QImage last = Screenshot("before0");
        for (int shot = 1; shot < 20 && !last.isNull(); ++shot) {
            const QImage next = Screenshot(("before" + std::to_string(shot)).c_str());
            if (next == last)
                break;
            last = next;
            std::this_thread::sleep_for(std::chrono::milliseconds(250));
        }
        return last;
    }

    static inline std::unique_ptr<QApplication> application;
    static inline fs::path folder;
    static inline pid_t compositor = -1;
};

TEST(WindowShape, OnlyWaylandNeedsThePaintedShape)
{
    const struct {
        const char *Platform;
        bool Painted;
    } platforms[] = {{"wayland", true}, {"wayland-egl", true}, {"wayland-brcm", true},
                     {"xcb", false},    {"offscreen", false},  {"", false}};
    for (const auto &p : platforms)
        EXPECT_EQ(ShapeIsPainted(QString::fromLatin1(p.Platform)), p.Painted) << p.Platform;
}

TEST_F(WaylandDesktop, RoundedCornersShowWhatLiesBehindTheWindow)
{
    const QImage before = SettledDesktop();
    ASSERT_FALSE(before.isNull());

    static int argc = 1;
    static char name[] = "glimmerbox-test";
    static char *argv[] = {name, nullptr};
    application = std::make_unique<QApplication>(argc, argv);
    ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("wayland"));
    TMainForm form;
    form.Timer->stop();
    EXPECT_TRUE(form.testAttribute(Qt::WA_TranslucentBackground));
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    EXPECT_EQ(form.mask(), MainWindowShape(form.width(), form.height())) << "the shape still limits input";
    QTest::qWait(1000);
    const QImage after = Screenshot("after");
    ASSERT_EQ(after.size(), before.size());

    // The window is where the desktop changed.
    int left = after.width(), top = after.height(), right = -1, bottom = -1;
    for (int y = 0; y < after.height(); ++y)
        for (int x = 0; x < after.width(); ++x)
            if (after.pixel(x, y) != before.pixel(x, y)) {
                left = std::min(left, x);
                right = std::max(right, x);
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
    ASSERT_GE(right, 0) << "the window did not appear";
    EXPECT_EQ(right - left + 1, form.width());
    EXPECT_EQ(bottom - top + 1, form.height());
    const int w = form.width();
    const int h = form.height();

    // Outside the shape at both bottom corners the desktop shows through;
    // the face of the window between them is silver.
    const QPoint outside[] = {{1, h - 2}, {4, h - 4}, {w - 2, h - 2}, {w - 5, h - 4}, {20, h - 2}, {w - 21, h - 2}};
    for (const QPoint &p : outside) {
        ASSERT_FALSE(form.mask().contains(p));
        const QPoint at(left + p.x(), top + p.y());
        EXPECT_EQ(after.pixel(at), before.pixel(at)) << "corner point " << p.x() << "," << p.y();
        EXPECT_NE(before.pixel(at), 0xFFC0C0C0u) << "the desktop must differ from the window's face";
    }
    EXPECT_EQ(after.pixel(left + w / 2, top + h - 5), 0xFFC0C0C0u);
    EXPECT_EQ(after.pixel(left + 1, top + h - 160), 0xFFC0C0C0u) << "above the corners the window is square";
}

} // namespace
