#include "pak/commands.h"
#include "platform/console.h"

void AddCreateCommand(CLI::App&, int*) {}
