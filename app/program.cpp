// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/program.h"

#include "app/aboutunit.h"
#include "app/mfunit.h"
#include "app/progressunit.h"
#include "app/startupunit.h"
#include "app/wavtomp3unit.h"
#include "audio/messages.h"

#include <QApplication>
#include <QTimer>

int RunGlimmerbox(const std::string &fileToOpen)
{
    QCoreApplication::setApplicationName(QString::fromLatin1(ApplicationTitle));

    // Each window is in its global before its own start-up runs.
    MainForm = new TMainForm;
    MainForm->FormCreate();
    Startup = new TStartup(MainForm);
    ProgressForm = new TProgressForm(MainForm);
    ProgressForm->FormCreate();
    CreateMp3ExportForms(MainForm);

    MainForm->show();
    // The file named on the command line, or else the voice the preferences
    // name, is opened (and maybe played) once the window is on screen.
    QTimer::singleShot(0, MainForm, [fileToOpen] {
        if (fileToOpen.empty())
            MainForm->OpenStartupFile();
        else
            MainForm->OpenFileAtStart(fileToOpen);
    });
    const int result = QApplication::exec();

    delete ProgressForm;
    ProgressForm = nullptr;
    delete MainForm; // takes the about box, the preferences, the help window and the MP3 windows with it
    AboutBox = nullptr;
    Startup = nullptr;
    return result;
}
