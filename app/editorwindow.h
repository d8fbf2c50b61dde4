// SPDX-License-Identifier: GPL-3.0-or-later
// The editor window: the whole voice, where a span of it is chosen for the
// Edit menu's commands and for Play, which then plays the span alone. It
// works on the main window's document and shares its Edit menu items; it
// remembers its size.
#pragma once

#include <QWidget>

class QLabel;
class QMenuBar;
class QPushButton;
class TMainForm;
class TQMBL_VoiceOverview;

class TEditorWindow : public QWidget {
    Q_OBJECT
public:
    explicit TEditorWindow(TMainForm &form);

    // Shows the document's voice and selection as they are now.
    void ShowDocument();
    // Plays the selection (the whole voice without one), or stops.
    void PlayClick();
    // The status line and the Play button's text, as things are now.
    void ShowStatus();

    QMenuBar *MenuBar;
    QPushButton *PlayButton;
    TQMBL_VoiceOverview *Overview;
    QLabel *StatusLine;

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    TMainForm &form;
};
