// SPDX-License-Identifier: GPL-3.0-or-later
// The two places where the program stops to ask the user something: message
// boxes and file dialogs. Everything that shows a box or a dialog goes
// through here, so a test can put its own answerer in place, read the texts
// and answer the dialogs without a modal window in the way.
#pragma once

#include "audio/messages.h"

#include <functional>
#include <string>
#include <utility>
#include <vector>

class QWidget;

// The message boxes of the program: an OK button, the text, and the caption
// (the application title unless the caller names another).
class TMessageBoxSink : public MessageSink {
public:
    void ShowMessage(const std::string &text, const std::string &caption = ApplicationTitle) override;
};

// Where messages go now: the message boxes, or whatever a test installed.
MessageSink &Messages();
// Installs sink (nullptr puts the message boxes back); returns the one before.
MessageSink *SetMessages(MessageSink *sink);

// One open or save dialog as the window designs it. Execute asks the current
// answerer; on true FileName holds the chosen file.
struct TFileDialog {
    enum class TKind { Open, Save };

    TKind Kind = TKind::Open;
    std::string Title;
    std::string FilterName;    // "Wave Files"
    std::string FilterPattern; // "*.wav"
    std::string DefaultExt;    // without the dot
    std::string FileName;      // proposed before, chosen after Execute
    bool OverwritePrompt = false;
    bool PathMustExist = true;
    bool FileMustExist = false;
    // Filters offered after the first, in order: name and patterns
    // ("Wave Files", "*.wav").
    std::vector<std::pair<std::string, std::string>> MoreFilters{};

    bool Execute(QWidget *parent = nullptr);
};

// Answers a dialog: returns false for a cancel, or true with dialog.FileName set.
using FileDialogAnswerer = std::function<bool(TFileDialog &dialog, QWidget *parent)>;

// Installs answerer (an empty one puts the desktop's dialogs back); returns the one before.
FileDialogAnswerer SetFileDialogAnswerer(FileDialogAnswerer answerer);

// The desktop's own dialog, as Execute uses it when no test answers.
bool RunDesktopFileDialog(TFileDialog &dialog, QWidget *parent);
