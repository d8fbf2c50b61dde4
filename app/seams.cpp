// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/seams.h"

#include "audio/soundfile.h"

#include <QList>
#include <QMimeData>

#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QString>

#include <utility>

namespace {

TMessageBoxSink messageBoxes;
MessageSink *currentSink = &messageBoxes;
FileDialogAnswerer currentAnswerer;

} // namespace

void TMessageBoxSink::ShowMessage(const std::string &text, const std::string &caption)
{
    QMessageBox box(QMessageBox::NoIcon, QString::fromStdString(caption), QString::fromStdString(text), QMessageBox::Ok,
                    QApplication::activeWindow());
    // Texts carry file names, which are shown as they are, never as markup.
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

MessageSink &Messages()
{
    return *currentSink;
}

MessageSink *SetMessages(MessageSink *sink)
{
    MessageSink *before = currentSink;
    currentSink = sink ? sink : &messageBoxes;
    return before == &messageBoxes ? nullptr : before;
}

bool TFileDialog::Execute(QWidget *parent)
{
    if (currentAnswerer)
        return currentAnswerer(*this, parent);
    return RunDesktopFileDialog(*this, parent);
}

FileDialogAnswerer SetFileDialogAnswerer(FileDialogAnswerer answerer)
{
    return std::exchange(currentAnswerer, std::move(answerer));
}

bool RunDesktopFileDialog(TFileDialog &dialog, QWidget *parent)
{
    QFileDialog box(parent, QString::fromStdString(dialog.Title));
    const bool open = dialog.Kind == TFileDialog::TKind::Open;
    box.setAcceptMode(open ? QFileDialog::AcceptOpen : QFileDialog::AcceptSave);
    box.setFileMode(open && dialog.FileMustExist ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    box.setOption(QFileDialog::DontConfirmOverwrite, !dialog.OverwritePrompt);
    QStringList filters;
    if (!dialog.FilterName.empty())
        filters << QString::fromStdString(dialog.FilterName + " (" + dialog.FilterPattern + ")");
    for (const auto &[name, pattern] : dialog.MoreFilters)
        filters << QString::fromStdString(name + " (" + pattern + ")");
    if (!filters.isEmpty())
        box.setNameFilters(filters);
    box.setDefaultSuffix(QString::fromStdString(dialog.DefaultExt));
    // File names travel in the platform's file-name encoding, not as UTF-8
    // text: a name in any other encoding reaches the file it names.
    if (!dialog.FileName.empty())
        box.selectFile(QFile::decodeName(QByteArray::fromStdString(dialog.FileName)));
    if (box.exec() != QDialog::Accepted || box.selectedFiles().isEmpty())
        return false;
    dialog.FileName = QFile::encodeName(box.selectedFiles().constFirst()).toStdString();
    return true;
}
