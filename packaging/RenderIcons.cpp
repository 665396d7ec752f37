// Writes the program's icon as PNG files into a hicolor icon theme tree:
//   nw-render-icons DIR SIZE...  ->  DIR/SIZExSIZE/apps/nodewarden.png
// The window draws the same icon at run time, so the desktop and the window agree.
#include "app/ui/AppIcons.h"

#include <QDir>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>
#include <cstdio>

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fputs("usage: nw-render-icons DIR SIZE...\n", stderr);
        return 2;
    }
    // Drawing text asks for the user's runtime folder, which a build (a package build, a CI
    // runner) often has not: a private one for this run keeps the build's output quiet.
    const QTemporaryDir runtime;
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR") && runtime.isValid())
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    const QDir root(QString::fromLocal8Bit(argv[1]));
    for (int i = 2; i < argc; ++i) {
        bool ok = false;
        const int size = QString::fromLocal8Bit(argv[i]).toInt(&ok);
        if (!ok || size < 8 || size > 1024) {
            std::fprintf(stderr, "nw-render-icons: '%s' is not a size from 8 to 1024\n", argv[i]);
            return 2;
        }
        const QString folder = QStringLiteral("%1x%1/apps").arg(size);
        const QString file = root.filePath(folder + QStringLiteral("/nodewarden.png"));
        if (!root.mkpath(folder) || !ProgramIconImage(size).save(file, "PNG")) {
            std::fprintf(stderr, "nw-render-icons: cannot write %s\n", qPrintable(file));
            return 1;
        }
    }
    return 0;
}
