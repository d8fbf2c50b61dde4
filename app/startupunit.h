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
    std::string FileName; // absolute; empty: no start-up file
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
    // Ends the dialog with OK when FileName is empty (no start-up file) or
    // names an existing file, which it then shows as an absolute name.
    void okButtonClick();
    void cancelButtonClick();

    // The controls show what is stored (an empty name while nothing is).
    void LoadPreferences();
    // Stores what the controls show.
    void SavePreferences() const;
    static TStartupPreferences StoredPreferences();
    // Stores "no start-up file"; the play choice stays.
    static void ForgetStartupFile();
};

extern TStartup *Startup;
