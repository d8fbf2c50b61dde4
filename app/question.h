// SPDX-License-Identifier: GPL-3.0-or-later
// The one question the program asks before a recording that exists nowhere
// but in memory would be lost: Save, Discard or Cancel. Like the message
// boxes and file dialogs, it goes through a seam so that a test can answer.
#pragma once

#include <functional>
#include <string>

class QWidget;

enum class TSaveAnswer { Save, Discard, Cancel };

// Answers the question text; parent is the window that asks.
using SaveQuestionAnswerer = std::function<TSaveAnswer(const std::string &text, QWidget *parent)>;

// Installs answerer (an empty one puts the message box back); returns the one before.
SaveQuestionAnswerer SetSaveQuestionAnswerer(SaveQuestionAnswerer answerer);

// Asks text with the buttons Save, Discard and Cancel (Save the default,
// Escape and the close box Cancel), captioned with the application title.
TSaveAnswer AskSaveFirst(const std::string &text, QWidget *parent);
