#include "run/entry_task.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "archive/entry_path.h"
#include "convert/entry_facts.h"
#include "convert/stream_damage.h"
#include "convert/unpack_entry.h"
#include "platform/directories.h"
#include "platform/file_copy.h"
#include "platform/mapped_file.h"
#include "platform/parent_directory.h"
#include "run/entry_inspection.h"
#include "run/existing_file.h"
#include "run/output_path.h"

namespace unpak {

namespace {

// The text may quote the archive's own bytes, escaped as names are.
void ReportEntry(const EntryTask& task, const std::string& text) {
  ReportEntryProblem(task.index, task.path, text);
}

void CheckDamage(const EntryView& view, const EntryFacts& facts, uint64_t decodedBytes,
                 EntryTask& task) {
  task.damage = DescribeDamage(FindEntryStreamDamage(view.payload, view.payloadSize,
                                                     facts.layout.dataStart,
                                                     facts.layout.compressedSize));
  if (facts.layout.hasDecodedLength && decodedBytes < facts.layout.decodedLength &&
      facts.decoded.nBlockAlign != 0) {
    const uint64_t missing =
        (facts.layout.decodedLength - decodedBytes) / facts.decoded.nBlockAlign;
    task.damage.push_back("the decoded audio is " + std::to_string(missing) +
                          " sample frames shorter than the entry states");
  }
}

OutputKeeping KeepingFor(OutputTarget target) {
  switch (target) {
    case OutputTarget::kEntryPath:
      return OutputKeeping::kInCurrentDirectory;
    case OutputTarget::kStandardOutput:
      return OutputKeeping::kInTemporaryDirectory;
    case OutputTarget::kNowhere:
      break;
  }
  return OutputKeeping::kDiscarded;
}

// Puts the finished file at the entry's path, unless a file that appeared
// there meanwhile is to be kept. The folders are opened step by step without
// following links: a link that appeared on the way while the entry was
// converted, or appears while it is placed, is refused or bypassed, never
// written through.
void PlaceOutput(const OpenedArchive& archive, const UnpackOptions& options, EntryTask& task) {
  const std::string path = NativePath(task.path);
  const std::string name = path.substr(path.rfind('/') + 1);
  DirectoryHandle parent;
  task.ok = EnsureParentDirectories(path, &task.reason) &&
            OpenParentDirectory(path, &parent, &task.reason);
  if (!task.ok) return;
  task.kept = KeepsExistingFile(archive, options, parent.fd, name);
  if (task.kept) {
    task.output.reset();
    task.damage.clear();  // nothing of it was written
    return;
  }
  task.ok = PlacePendingOutputIn(std::move(task.output), parent.fd, name, path, &task.reason);
}

void CopyOutputToStandardOutput(EntryTask& task) {
  bool writeFailed = false;
  const int error = CopyFileTo(task.output->fd, STDOUT_FILENO, &writeFailed);
  task.output.reset();
  if (error == 0) return;
  if (writeFailed) {
    task.outputError = error;
  } else {
    task.ok = false;
    task.reason = std::string("cannot read the finished file back: ") + std::strerror(error);
  }
}

}  // namespace

void ConvertEntry(const OpenedArchive& archive, const UnpackOptions& options, EntryTask& task,
                  SegmentHelpers* helpers) {
  const uint8_t* record =
      archive.data + archive.header.entryTableOffset + uint64_t{task.index} * kPakEntrySize;
  const PakEntry entry = ReadPakEntry(archive.data, archive.header, task.index);
  EntryView view;
  task.ok = ResolvePakEntry(archive.data, archive.size, archive.header, entry, &view, &task.reason);
  if (view.path != nullptr) task.path = view.path;
  // Nothing is written while testing, so only the path's form counts then.
  if (task.ok) {
    task.ok = options.outputTarget == OutputTarget::kEntryPath
                  ? CheckOutputPath(task.path, &task.reason)
                  : CheckOutputPathForm(task.path, &task.reason);
  }
  if (task.ok && options.outputTarget == OutputTarget::kEntryPath &&
      KeepsExistingFile(archive, options, AT_FDCWD, NativePath(task.path))) {
    // Skipped before any work; checked again when the output would be placed.
    ConsolePrint("Skipping %s :", DisplayName(task.path).c_str());
    task.lineStarted = true;
    task.kept = true;
  } else if (task.ok) {
    ConsolePrint("%s %s : ", options.lineVerb, DisplayName(task.path).c_str());
    task.lineStarted = true;
    EntryFacts facts;
    EntryResult result;
    std::string transcriptLine;
    task.ok = InspectEntry(view.targetFormat, view.payload, view.payloadSize, &facts, &task.reason,
                           &transcriptLine);
    if (!transcriptLine.empty()) ConsolePrint("%s", transcriptLine.c_str());
    task.ok =
        task.ok && UnpackEntry(facts, view.payload, view.payloadSize,
                               KeepingFor(options.outputTarget), &result, &task.reason, helpers);
    if (task.ok) CheckDamage(view, facts, result.decodedBytes, task);
    task.output = std::move(result.output);
  }
  if (MappedBytesLost(record, kPakEntrySize) ||
      (view.path != nullptr && MappedBytesLost(view.path, task.path.size() + 1)) ||
      (view.payload != nullptr && MappedBytesLost(view.payload, view.payloadSize))) {
    task.ok = false;
    task.archiveUnreadable = true;
    task.output.reset();
  }
}

bool FinishEntry(const OpenedArchive& archive, const UnpackOptions& options, EntryTask& task) {
  if (task.ok && task.output) {
    if (options.outputTarget == OutputTarget::kStandardOutput) {
      CopyOutputToStandardOutput(task);
    } else {
      PlaceOutput(archive, options, task);
    }
  }
  if (task.lineStarted) {
    std::string verdict;
    if (task.kept) {
      verdict = std::string(" ") + kKeptExistingFile;
    } else if (options.showVerdicts) {
      verdict = !task.ok ? " failed" : task.damage.empty() ? " ok" : " damaged";
    }
    ConsoleEndLine((verdict + "\n").c_str());
  }
  if (task.archiveUnreadable) {
    ReportEntry(task, std::string("cannot read the archive ") + archive.name +
                          " any more (it changed while being read, or an I/O error)");
    return false;
  }
  if (task.outputError != 0) {
    // A reader that went away (a player closed) ends the run without a word.
    if (task.outputError != EPIPE) {
      ConsoleError("cannot write to standard output: %s", std::strerror(task.outputError));
    }
    return false;
  }
  if (!task.ok) ReportEntry(task, task.reason);
  for (const std::string& problem : task.damage) ReportEntry(task, "damaged: " + problem);
  return true;
}

}  // namespace unpak
