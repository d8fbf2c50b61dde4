// SPDX-License-Identifier: GPL-3.0-or-later
// Renders the program's icon, as the window shows it, into PNG files for the
// desktop's icon theme: OUTDIR/<size>.png for every size given.
//
//   glimmer-make-icons OUTDIR 48 128 256
#include "app/artwork.h"

#include <QGuiApplication>
#include <QImage>
#include <QString>

#include <cstdio>

int main(int argc, char **argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s OUTDIR SIZE...\n", argv[0]);
        return 2;
    }
    QGuiApplication application(argc, argv);
    const QString folder = QString::fromLocal8Bit(argv[1]);
    for (int i = 2; i < argc; ++i) {
        bool ok = false;
        const int size = QString::fromLatin1(argv[i]).toInt(&ok);
        if (!ok || size < 16 || size > 1024) {
            std::fprintf(stderr, "%s: '%s' is not an icon size from 16 to 1024\n", argv[0], argv[i]);
            return 2;
        }
        const QString name = folder + QStringLiteral("/%1.png").arg(size);
        if (!ProgramIconPixmap(size).toImage().save(name, "PNG")) {
            std::fprintf(stderr, "%s: cannot write %s\n", argv[0], qPrintable(name));
            return 1;
        }
    }
    return 0;
}
