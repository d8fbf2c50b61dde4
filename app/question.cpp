// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/question.h"

#include "audio/messages.h"

#include <QAbstractButton>
#include <QMessageBox>
#include <QString>

#include <utility>

namespace {

SaveQuestionAnswerer currentAnswerer;

TSaveAnswer AskWithMessageBox(const std::string &text, QWidget *parent)
{
    QMessageBox box(QMessageBox::Question, QString::fromLatin1(ApplicationTitle), QString::fromStdString(text),
                    QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, parent);
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(QMessageBox::Save);
    box.setEscapeButton(QMessageBox::Cancel);
    // Alt+S and Alt+D answer from the keyboard; Esc cancels.
    box.button(QMessageBox::Save)->setText(QStringLiteral("&Save"));
    box.button(QMessageBox::Discard)->setText(QStringLiteral("&Discard"));
    switch (box.exec()) {
    case QMessageBox::Save:
        return TSaveAnswer::Save;
    case QMessageBox::Discard:
        return TSaveAnswer::Discard;
    default:
        return TSaveAnswer::Cancel;
    }
}

} // namespace

SaveQuestionAnswerer SetSaveQuestionAnswerer(SaveQuestionAnswerer answerer)
{
    return std::exchange(currentAnswerer, std::move(answerer));
}

TSaveAnswer AskSaveFirst(const std::string &text, QWidget *parent)
{
    if (currentAnswerer)
        return currentAnswerer(text, parent);
    return AskWithMessageBox(text, parent);
}
