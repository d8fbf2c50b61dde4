#include "app/program.h"

#include "app/aboutunit.h"
#include "app/mfunit.h"
#include "app/progressunit.h"
#include "audio/messages.h"

#include <QApplication>

int RunGlimmerbox()
{
    QCoreApplication::setApplicationName(QString::fromLatin1(ApplicationTitle));

    // Each window is in its global before its own start-up runs.
    MainForm = new TMainForm;
    MainForm->FormCreate();
    // The preferences dialog is made here once the preferences part exists.
    ProgressForm = new TProgressForm(MainForm);
    ProgressForm->FormCreate();
    // The MP3 conversion window and the codec message window follow here
    // with the MP3 export part.

    MainForm->show();
    const int result = QApplication::exec();

    delete ProgressForm;
    ProgressForm = nullptr;
    delete MainForm; // takes the about box and the help window with it
    AboutBox = nullptr;
    return result;
}
