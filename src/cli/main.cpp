#include "common/VxError.h"

#include <QCoreApplication>
#include <QStringList>

#include <cstdio>

namespace {

void printUsage()
{
    std::fputs("usage: nodewarden [--version] [--help]\n", stdout);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("nodewarden"));
    QCoreApplication::setApplicationVersion(QStringLiteral(NW_VERSION_TEXT));

    const QStringList args = app.arguments().mid(1);
    if (args.isEmpty() || args.first() == QLatin1String("--help") ||
        args.first() == QLatin1String("-h")) {
        printUsage();
        return args.isEmpty() ? 2 : 0;
    }
    if (args.first() == QLatin1String("--version")) {
        std::printf("nodewarden %s\n", NW_VERSION_TEXT);
        return 0;
    }
    std::fprintf(stderr, "nodewarden: unknown command '%s'\n", qPrintable(args.first()));
    printUsage();
    return 2;
}
