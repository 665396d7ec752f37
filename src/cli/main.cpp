#include "cli/CliCommand.h"
#include "common/VxError.h"

#include <QCoreApplication>
#include <QStringList>

#include <algorithm>
#include <cstdio>

namespace {

void printUsage(FILE* to)
{
    std::fputs("usage: nodewarden [--home DIR] COMMAND [ARGS...]\n"
               "       nodewarden --version | --help\n\ncommands:\n",
               to);
    std::vector<CliCommand> commands = CliCommands();
    std::sort(commands.begin(), commands.end(),
              [](const CliCommand& a, const CliCommand& b) { return a.name < b.name; });
    for (const CliCommand& c : commands)
        std::fprintf(to, "  %s\n", qPrintable(c.synopsis));
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("nodewarden"));
    QCoreApplication::setApplicationVersion(QStringLiteral(NW_VERSION_TEXT));

    QStringList args = app.arguments().mid(1);
    while (!args.isEmpty() && args.first().startsWith(QLatin1String("--"))) {
        const QString opt = args.takeFirst();
        if (opt == QLatin1String("--help")) {
            printUsage(stdout);
            return 0;
        }
        if (opt == QLatin1String("--version")) {
            std::printf("nodewarden %s\n", NW_VERSION_TEXT);
            return 0;
        }
        if (opt == QLatin1String("--home")) {
            if (args.isEmpty()) {
                std::fputs("nodewarden: --home needs a folder\n", stderr);
                return 2;
            }
            CliGlobals().home = args.takeFirst();
            continue;
        }
        std::fprintf(stderr, "nodewarden: unknown option '%s'\n", qPrintable(opt));
        printUsage(stderr);
        return 2;
    }
    if (args.isEmpty()) {
        printUsage(stderr);
        return 2;
    }
    const QString name = args.takeFirst();
    for (const CliCommand& c : CliCommands()) {
        if (c.name == name) {
            try {
                return c.run(args);
            } catch (const VxError& e) {
                std::fprintf(stderr, "nodewarden: %s\n", e.what());
                return 1;
            } catch (const std::exception& e) {
                std::fprintf(stderr, "nodewarden: %s\n", e.what());
                return 1;
            }
        }
    }
    std::fprintf(stderr, "nodewarden: unknown command '%s'\n", qPrintable(name));
    printUsage(stderr);
    return 2;
}
