#include "archive/entry_selection.h"

#include "archive/entry_pattern.h"
#include "platform/console.h"

namespace unpak {

namespace {

// Whether the entry's path matches one of the patterns; marks those that do.
bool MatchesPatterns(const char* path, const std::vector<std::string>& patterns,
                     std::vector<bool>* matched) {
  bool any = false;
  for (size_t i = 0; i < patterns.size(); ++i) {
    if (EntryPathMatches(patterns[i], path)) {
      (*matched)[i] = true;
      any = true;
    }
  }
  return any;
}

}  // namespace

bool IsSelected(Selection& selection, uint32_t index, PakEntry* entry, EntryView* view) {
  const OpenedArchive& archive = selection.archive;
  *entry = ReadPakEntry(archive.data, archive.header, index);
  std::string reason;
  const bool resolved =
      ResolvePakEntry(archive.data, archive.size, archive.header, *entry, view, &reason);
  if (selection.patterns.empty()) return true;
  return resolved && MatchesPatterns(view->path, selection.patterns, &selection.matched);
}

uint32_t NextSelected(Selection& selection, uint32_t from) {
  PakEntry entry;
  EntryView view;
  while (from < selection.archive.header.entryCount &&
         !IsSelected(selection, from, &entry, &view)) {
    ++from;
  }
  return from;
}

bool ReportUnmatchedPatterns(const Selection& selection) {
  bool all = true;
  for (size_t i = 0; i < selection.patterns.size(); ++i) {
    if (selection.matched[i]) continue;
    ConsoleError("%s: no entry matches %s", selection.archive.name, selection.patterns[i].c_str());
    all = false;
  }
  return all;
}

}  // namespace unpak

