// SPDX-License-Identifier: GPL-3.0-or-later
// The about box. It serves twice: as the splash while the main window is
// being created (without its OK button, the button row cut off) and later as
// the modal about dialog of Help, About.
#pragma once

#include <QDialog>
#include <QUrl>

#include <string>

class QFrame;
class QLabel;
class QPushButton;

inline constexpr const char *NoVersionInformation = "No Version Information Found";
// The help page about the program, which the web button opens in the help
// window when the build names no home page.
inline constexpr const char *AboutHelpPage = "qrc:/help/about.html";

// The program's own version as compiled in, or "No Version Information
// Found" when the build gave none.
std::string GetFileVersionString();
// The same over a given compiled-in text (null or empty: no version).
std::string FileVersionFrom(const char *embedded);

// Where "Visit the Web Site" leads: the home page the build was given
// (GLIMMER_HOME_PAGE), or the help page about the program when it was given
// none.
QUrl WebSiteAddress();
// The same over a given configured address (null or blank: the help page).
QUrl WebSiteAddressFrom(const char *configured);

class TAboutBox : public QDialog {
    Q_OBJECT
public:
    static constexpr int ClientWidth = 367;
    static constexpr int ClientHeight = 226;

    explicit TAboutBox(QWidget *owner);

    // Sets the Version caption from GetFileVersionString.
    void FormCreate();
    // The box as the splash while the program starts: no OK button, its row
    // cut off. EndSplash hides it and makes it the about box again.
    void ShowAsSplash();
    void EndSplash();

    // Opens WebAddress: a help page in the program's help window (through
    // HelpPageWanted), anything else in the desktop's browser; then closes.
    void WebButtonClick();
    void OKButtonClick();

    QFrame *Panel;
    QLabel *ProgramIcon;
    QLabel *ProductName;
    QLabel *Version;
    QPushButton *WebButton;
    QPushButton *OKButton;
    QUrl WebAddress; // WebSiteAddress() unless changed

signals:
    // A page of the program's own help is to be shown.
    void HelpPageWanted(const QUrl &page);

protected:
    void showEvent(QShowEvent *event) override;
};

extern TAboutBox *AboutBox;
