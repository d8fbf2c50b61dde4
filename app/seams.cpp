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

// The local sound file a drop carries, or an empty string. Only a single
// file whose extension is one the program opens (any case) is taken. The
// name is read byte for byte from the drop's own list of links
// (percent-encoded bytes), not through Qt's URL text, so a name that is not
// valid UTF-8 (an old Latin-1 "\xe9t\xe9.wav") still reaches its file.
std::string DroppedSoundFile(const QMimeData *data)
{
    if (!data || !data->hasUrls())
        return {};
    QList<QByteArray> links;
    for (QByteArray line : data->data(QStringLiteral("text/uri-list")).split('\n')) {
        line = line.trimmed();
        if (!line.isEmpty() && !line.startsWith('#'))
            links.append(line);
    }
    if (links.size() != 1)
        return {};
    // file:///path or file://localhost/path; any other host is not local.
    QByteArray link = links.constFirst();
    if (!link.startsWith("file://"))
        return {};
    link.remove(0, 7);
    if (link.startsWith("localhost/"))
        link.remove(0, 9);
    if (!link.startsWith('/'))
        return {};
    const std::string path = QByteArray::fromPercentEncoding(link).toStdString();
    return IsSoundFileName(path) ? path : std::string();
}
