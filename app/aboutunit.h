// The about box. It serves twice: as the splash while the main window is
// being created (without its OK button, the button row cut off) and later as
// the modal about dialog of Help, About.
#pragma once

#include <QDialog>

#include <string>

class QFrame;
class QLabel;
class QPushButton;

inline constexpr const char *NoVersionInformation = "No Version Information Found";
inline constexpr const char *VendorWebAddress = "https://glimmerbox.example.org/";

// The program's own version as compiled in, or "No Version Information
// Found" when the build gave none.
std::string GetFileVersionString();
// The same over a given compiled-in text (null or empty: no version).
std::string FileVersionFrom(const char *embedded);

class TAboutBox : public QDialog {
    Q_OBJECT
public:
    static constexpr int ClientWidth = 367;
    static constexpr int ClientHeight = 226;

    explicit TAboutBox(QWidget *owner);

    // Sets the Version caption from GetFileVersionString.
    void FormCreate();

    void WebButtonClick();
    void OKButtonClick();

    QFrame *Panel;
    QLabel *ProgramIcon;
    QLabel *ProductName;
    QLabel *Version;
    QPushButton *WebButton;
    QPushButton *OKButton;

protected:
    void showEvent(QShowEvent *event) override;
};

extern TAboutBox *AboutBox;
