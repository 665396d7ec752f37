#include "cli/CliCommand.h"

#include <vector>

namespace {
std::vector<CliCommand>& registry()
{
    static std::vector<CliCommand> commands;
    return commands;
}
} // namespace

CliCommandRegistration::CliCommandRegistration(CliCommand command)
{
    registry().push_back(std::move(command));
}

const std::vector<CliCommand>& CliCommands()
{
    return registry();
}

CliGlobalOptions& CliGlobals()
{
    static CliGlobalOptions options;
    return options;
}
