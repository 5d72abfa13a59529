#include "create/edit_archive.h"

#include <algorithm>

#include "archive/entry_path.h"
#include "archive/name_case.h"
#include "create/archive_rewrite.h"
#include "platform/console.h"
#include "archive/entry_selection.h"

namespace unpak {

namespace {

// Whether each old entry matches one of `patterns`; false, reported, when a
// pattern matches none.
bool SelectEntries(const std::string& path, const OldArchive& old,
                   const std::vector<std::string>& patterns, std::vector<bool>* selected) {
  const OpenedArchive archive{path.c_str(), old.bytes.data(), old.bytes.size(), old.header};
  Selection selection{archive, patterns, std::vector<bool>(patterns.size())};
  for (uint32_t i = 0; i < old.header.entryCount; ++i) {
    PakEntry entry;
    EntryView view;
    selected->push_back(IsSelected(selection, i, &entry, &view));
  }
  return ReportUnmatchedPatterns(selection);
}

}  // namespace

UpdateStatus DeleteEntries(const DeleteRequest& request) {
  const std::string& path = request.output.empty() ? request.archive : request.output;
  ArchiveOutput output;
  OldArchive old;
  if (!OpenRewrite(request.archive, path, &output, &old)) return UpdateStatus::kArchiveUnusable;
  std::vector<bool> selected;
  if (!SelectEntries(request.archive, old, request.patterns, &selected)) {
    return UpdateStatus::kInputsRefused;
  }
  std::vector<CarriedEntry> kept;
  for (size_t i = 0; i < selected.size(); ++i) {
    if (!selected[i]) kept.push_back({i, {}});
  }
  const StepResult written = WriteCarriedEntries(old, kept, output, path);
  if (written == StepResult::kDone) {
    ConsolePrint("%zu deleted, %zu kept\n", selected.size() - kept.size(), kept.size());
  }
  return RewriteStatusOf(written);
}

UpdateStatus RenameEntry(const RenameRequest& request) {
  const std::string& path = request.output.empty() ? request.archive : request.output;
  ArchiveOutput output;
  OldArchive old;
  if (!OpenRewrite(request.archive, path, &output, &old)) return UpdateStatus::kArchiveUnusable;
  std::vector<bool> selected;
  if (!SelectEntries(request.archive, old, {request.pattern}, &selected)) {
    return UpdateStatus::kInputsRefused;
  }
  const auto renamed = static_cast<size_t>(std::ranges::find(selected, true) - selected.begin());
  std::string newName = request.newName;
  std::replace(newName.begin(), newName.end(), '/', '\\');
  std::string reason;
  if (std::ranges::count(selected, true) > 1) {
    reason = DisplayName(request.pattern) + " matches " +
             std::to_string(std::ranges::count(selected, true)) + " entries; rename takes one";
  } else if (!CheckOutputPathForm(newName, &reason)) {
    reason = DisplayName(request.newName) + ": " + reason;
  }
  for (size_t i = 0; reason.empty() && i < old.views.size(); ++i) {
    if (i != renamed && SameNameIgnoringCase(old.views[i].path, newName)) {
      reason = DisplayName(request.newName) + ": the archive holds " +
               DisplayName(old.views[i].path) + " already";
    }
  }
  if (!reason.empty()) {
    ReportProblem(request.archive, reason);
    return UpdateStatus::kInputsRefused;
  }
  std::vector<CarriedEntry> carried;
  for (size_t i = 0; i < old.views.size(); ++i) {
    carried.push_back({i, i == renamed ? std::optional(newName) : std::nullopt});
  }
  const StepResult written = WriteCarriedEntries(old, carried, output, path);
  if (written == StepResult::kDone) {
    ConsolePrint("%s renamed to %s\n", DisplayName(old.views[renamed].path).c_str(),
                 DisplayName(newName).c_str());
  }
  return RewriteStatusOf(written);
}

}  // namespace unpak
