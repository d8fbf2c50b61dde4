// The preferences dialog TStartup: a voice file to open when the program
// starts, and whether to play it then. Both are kept between runs in the
// user's settings (organisation "Tamblor", application "Glimmerbox").
#pragma once

#include "app/seams.h"

#include <QDialog>

#include <string>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

// What the preferences hold between runs.
struct TStartupPreferences {
    std::string FileName; // empty until the user has confirmed a file
    bool PlaySound = false;
};

class TStartup : public QDialog {
    Q_OBJECT
public:
    static constexpr int ClientWidth = 351;
    static constexpr int ClientHeight = 132;

    explicit TStartup(QWidget *parent = nullptr);
    ~TStartup() override;

    QCheckBox *PlaySoundAtStartup;
    QLabel *Label1;
    QLineEdit *FileName;
    QPushButton *BrowseButton;
    QPushButton *okButton;
    QPushButton *cancelButton;
    TFileDialog BrowseFileDialog;

    void BrowseButtonClick();
    // Ends the dialog with OK only when FileName names an existing file.
    void okButtonClick();
    void cancelButtonClick();

    // The controls show what is stored ("FileName" while nothing is).
    void LoadPreferences();
    // Stores what the controls show.
    void SavePreferences() const;
    static TStartupPreferences StoredPreferences();
};

extern TStartup *Startup;
