#include <algorithm>
#include <string>
#include <vector>

#include "pak/commands.h"
#include "platform/console.h"

namespace unpak {

namespace {

// Edits (insertions, deletions, substitutions) that turn `a` into `b`.
size_t EditDistance(const std::string& a, const std::string& b) {
  std::vector<size_t> row(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    size_t diagonal = row[0];
    row[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      const size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

// Slips of up to this many edits get a suggestion.
constexpr size_t kNearEdits = 2;

}  // namespace

bool ReportUnknownCommand(CLI::App& pak, int argc, char** argv) {
  if (argc < 2 || argv[1][0] == '-') return false;
  const std::string typed = argv[1];
  std::string nearest;
  size_t nearestEdits = kNearEdits + 1;
  for (const CLI::App* command : pak.get_subcommands({})) {
    if (command->get_name() == typed) return false;
    const size_t edits = EditDistance(typed, command->get_name());
    if (edits < nearestEdits) {
      nearest = command->get_name();
      nearestEdits = edits;
    }
  }
  if (nearest.empty()) {
    ConsoleError("unknown command '%s'", typed.c_str());
  } else {
    ConsoleError("unknown command '%s'; did you mean '%s'?", typed.c_str(), nearest.c_str());
  }
  ConsoleError("'pak --help' lists the commands");
  return true;
}

}  // namespace unpak
