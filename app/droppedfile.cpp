// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/droppedfile.h"

#include "audio/soundfile.h"

#include <QByteArray>
#include <QList>
#include <QMimeData>

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
