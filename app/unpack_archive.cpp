#include "app/unpack_archive.h"

#include <fnmatch.h>
#include <sched.h>

#include <algorithm>
#include <deque>
#include <memory>
#include <thread>

#include "app/directories.h"
#include "app/free_space.h"
#include "app/output_path.h"
#include "app/output_path_links.h"
#include "archive/pak_file.h"
#include "archive/pak_reader.h"
#include "convert/entry_facts.h"
#include "convert/mpeg_stream_check.h"
#include "convert/unpack_entry.h"
#include "platform/console.h"
#include "platform/mapped_file.h"

namespace {

// Entries converted ahead of the one whose line is being printed, per worker.
constexpr size_t kTasksAheadPerWorker = 2;

struct Archive {
  const char* name;
  const uint8_t* data;
  size_t size;
  PakHeader header;
};

// One entry's work, and what it left for its turn.
struct EntryTask {
  uint32_t index = 0;
  ConsoleCapture transcript;  // its line, while converted ahead of its turn
  std::string path;           // as stored; empty when the name cannot be read
  bool lineStarted = false;   // its transcript line was begun
  bool ok = false;
  bool archiveUnreadable = false;
  std::string reason;               // why it failed
  std::vector<std::string> damage;  // what the decoder passed over
  PendingOutputPtr output;
};

void ReportEntry(const EntryTask& task, const std::string& text) {
  if (task.path.empty()) {
    ConsoleError("entry %u: %s", task.index, text.c_str());
  } else {
    ConsoleError("entry %u (%s): %s", task.index, DisplayName(task.path).c_str(), text.c_str());
  }
}

// Whether the entry's path matches one of the patterns; marks those that do.
bool MatchesPatterns(const char* path, const std::vector<std::string>& patterns,
                     std::vector<bool>* matched) {
  std::string slashed = path;
  std::replace(slashed.begin(), slashed.end(), '\\', '/');
  bool any = false;
  for (size_t i = 0; i < patterns.size(); ++i) {
    if (fnmatch(patterns[i].c_str(), slashed.c_str(), FNM_CASEFOLD) == 0) {
      (*matched)[i] = true;
      any = true;
    }
  }
  return any;
}

// Walks the selected entries in archive order.
struct Selection {
  const Archive& archive;
  const std::vector<std::string>& patterns;
  std::vector<bool> matched;
};

// `entry` receives the record; `view` points into it.
bool IsSelected(Selection& selection, uint32_t index, PakEntry* entry, EntryView* view) {
  const Archive& archive = selection.archive;
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

// What the selected entries' outputs need on disk, from their formats and
// stated lengths; entries that cannot be read count nothing.
uint64_t NeededSpace(Selection& selection) {
  const Archive& archive = selection.archive;
  uint64_t needed = 0;
  ConsoleCapture quiet;  // the format reader's console messages
  SetConsoleCapture(&quiet);
  for (uint32_t index = 0; index < archive.header.entryCount; ++index) {
    PakEntry entry;
    EntryView view;
    EntryFacts facts;
    std::string reason;
    if (IsSelected(selection, index, &entry, &view) && view.payload != nullptr &&
        InspectEntry(view.targetFormat, view.payload, view.payloadSize, &facts, &reason)) {
      needed += facts.outputSize;
    }
  }
  SetConsoleCapture(nullptr);
  return needed;
}

void CheckDamage(const EntryView& view, const EntryFacts& facts, uint64_t decodedBytes,
                 EntryTask& task) {
  const int64_t available = int64_t{view.payloadSize} - facts.layout.dataStart;
  const size_t streamSize =
      static_cast<size_t>(std::clamp<int64_t>(available, 0, facts.layout.compressedSize));
  task.damage = DescribeDamage(CheckMpegStream(view.payload + facts.layout.dataStart, streamSize));
  if (facts.layout.hasDecodedLength && decodedBytes < facts.layout.decodedLength &&
      facts.decoded.nBlockAlign != 0) {
    const uint64_t missing =
        (facts.layout.decodedLength - decodedBytes) / facts.decoded.nBlockAlign;
    task.damage.push_back("the decoded audio is " + std::to_string(missing) +
                          " sample frames shorter than the entry states");
  }
}

// The part of an entry's work that may run ahead of its turn: everything but
// putting the output in its place and reporting.
// With `helpers`, a long entry may be decoded in segments that they help with.
void ConvertEntry(const Archive& archive, const UnpackOptions& options, EntryTask& task,
                  SegmentHelpers* helpers = nullptr) {
  const uint8_t* record =
      archive.data + archive.header.entryTableOffset + uint64_t{task.index} * kPakEntrySize;
  const PakEntry entry = ReadPakEntry(archive.data, archive.header, task.index);
  EntryView view;
  task.ok = ResolvePakEntry(archive.data, archive.size, archive.header, entry, &view, &task.reason);
  if (view.path != nullptr) task.path = view.path;
  // Nothing is written while testing, so only the path's form counts then.
  if (task.ok) {
    task.ok = options.keepOutputs ? CheckOutputPath(task.path, &task.reason)
                                  : CheckOutputPathForm(task.path, &task.reason);
  }
  if (task.ok) {
    ConsolePrint("%s %s : ", options.lineVerb, DisplayName(task.path).c_str());
    task.lineStarted = true;
    EntryFacts facts;
    EntryResult result;
    task.ok =
        InspectEntry(view.targetFormat, view.payload, view.payloadSize, &facts, &task.reason) &&
        UnpackEntry(facts, view.payload, view.payloadSize, options.keepOutputs, &result,
                    &task.reason, helpers);
    if (task.ok && options.reportDamage) CheckDamage(view, facts, result.decodedBytes, task);
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

// The part of an entry's work done in archive order: its output put in
// place, its line ended, its problems reported. False when the run must stop.
bool FinishEntry(const Archive& archive, const UnpackOptions& options, EntryTask& task) {
  if (task.ok && task.output) {
    // The folders are opened step by step without following links: a link
    // that appeared on the way while the entry was converted, or appears
    // while it is placed, is refused or bypassed, never written through.
    DirectoryHandle parent;
    task.ok = EnsureParentDirectories(task.path, &task.reason) &&
              OpenParentDirectory(task.path, &parent, &task.reason) &&
              PlacePendingOutputIn(std::move(task.output), parent.fd,
                                   task.path.substr(task.path.rfind('\\') + 1),
                                   NativePath(task.path), &task.reason);
  }
  if (task.lineStarted) {
    const char* verdict = "";
    if (options.reportDamage)
      verdict = !task.ok ? " failed" : task.damage.empty() ? " ok" : " damaged";
    ConsoleEndLine((std::string(verdict) + "\n").c_str());
  }
  if (task.archiveUnreadable) {
    ReportEntry(task, std::string("cannot read the archive ") + archive.name +
                          " any more (it changed while being read, or an I/O error)");
    return false;
  }
  if (!task.ok) ReportEntry(task, task.reason);
  for (const std::string& problem : task.damage) ReportEntry(task, "damaged: " + problem);
  return true;
}

struct RunCounts {
  uint32_t entries = 0;
  uint32_t failed = 0;
  bool stopped = false;
};

void Count(const EntryTask& task, RunCounts* counts) {
  ++counts->entries;
  if (!task.ok || !task.damage.empty()) ++counts->failed;
}

void RunInOrder(const Archive& archive, const UnpackOptions& options, Selection& selection,
                RunCounts* counts) {
  for (uint32_t index = NextSelected(selection, 0); index < archive.header.entryCount;
       index = NextSelected(selection, index + 1)) {
    EntryTask task;
    task.index = index;
    ConvertEntry(archive, options, task);
    counts->stopped = !FinishEntry(archive, options, task);
    Count(task, counts);
    if (counts->stopped) return;
  }
}

// Workers convert entries ahead in archive order, at most a few per worker
// beyond the one whose turn it is; this thread shows each entry's transcript
// as it grows, then finishes it in its turn.
struct Pipeline {
  std::mutex mutex;
  std::condition_variable changed;
  std::deque<std::unique_ptr<EntryTask>> tasks;  // claimed, in archive order
  uint32_t next = 0;                             // the next entry to claim
  size_t window = 0;
  bool stop = false;
  // Workers left without entries decode segments of the long entries still
  // being converted.
  SegmentHelpers helpers;
};

void RunWorker(const Archive& archive, const UnpackOptions& options, Selection& selection,
               Pipeline& pipeline) {
  for (;;) {
    EntryTask* task = nullptr;
    bool split = false;
    {
      std::unique_lock<std::mutex> lock(pipeline.mutex);
      pipeline.changed.wait(lock, [&] {
        return pipeline.stop || pipeline.next >= archive.header.entryCount ||
               pipeline.tasks.size() < pipeline.window;
      });
      if (pipeline.stop) return;
      if (pipeline.next >= archive.header.entryCount) break;
      pipeline.tasks.push_back(std::make_unique<EntryTask>());
      task = pipeline.tasks.back().get();
      task->index = pipeline.next;
      pipeline.next = NextSelected(selection, pipeline.next + 1);
      // Splitting pays once fewer entries are left than workers to take them.
      split = archive.header.entryCount - pipeline.next < options.workers;
    }
    pipeline.changed.notify_all();
    SetConsoleCapture(&task->transcript);
    ConvertEntry(archive, options, *task, split ? &pipeline.helpers : nullptr);
    SetConsoleCapture(nullptr);
    // Notified under the lock: once it sees the task finished, the printing
    // thread may destroy it.
    std::lock_guard<std::mutex> lock(task->transcript.mutex);
    task->transcript.finished = true;
    task->transcript.changed.notify_all();
  }
  HelpWithSegments(pipeline.helpers);
}

// Prints the transcript of `task` as it grows, until the task is converted.
void ShowTranscript(EntryTask& task) {
  ConsoleCapture& transcript = task.transcript;
  std::unique_lock<std::mutex> lock(transcript.mutex);
  size_t shown = 0;
  for (;;) {
    if (shown < transcript.text.size()) {
      const std::string more = transcript.text.substr(shown);
      shown = transcript.text.size();
      lock.unlock();
      ConsolePrint("%s", more.c_str());
      lock.lock();
    } else if (transcript.finished) {
      return;
    } else {
      transcript.changed.wait(lock);
    }
  }
}

void RunInParallel(const Archive& archive, const UnpackOptions& options, Selection& selection,
                   RunCounts* counts) {
  Pipeline pipeline;
  pipeline.next = NextSelected(selection, 0);
  pipeline.window = size_t{std::min(options.workers, kMaxWorkers)} * kTasksAheadPerWorker + 1;
  // As many segments at once as workers: each has one to decode.
  pipeline.helpers.ahead = std::min(options.workers, kMaxWorkers) - 1;
  std::vector<std::thread> workers;
  for (unsigned i = 0; i < std::min(options.workers, kMaxWorkers); ++i) {
    workers.emplace_back(RunWorker, std::cref(archive), std::cref(options), std::ref(selection),
                         std::ref(pipeline));
  }
  for (;;) {
    EntryTask* task = nullptr;
    {
      std::unique_lock<std::mutex> lock(pipeline.mutex);
      pipeline.changed.wait(lock, [&] {
        return !pipeline.tasks.empty() || pipeline.next >= archive.header.entryCount;
      });
      if (pipeline.tasks.empty()) break;
      task = pipeline.tasks.front().get();
    }
    ShowTranscript(*task);
    counts->stopped = !FinishEntry(archive, options, *task);
    Count(*task, counts);
    {
      std::lock_guard<std::mutex> lock(pipeline.mutex);
      pipeline.tasks.pop_front();
      pipeline.stop = counts->stopped;
    }
    pipeline.changed.notify_all();
    if (counts->stopped) break;
  }
  CloseSegmentHelpers(pipeline.helpers);
  for (std::thread& worker : workers) worker.join();
}

}  // namespace

unsigned AvailableCores() {
  cpu_set_t cores;
  if (sched_getaffinity(0, sizeof cores, &cores) != 0) return 1;
  return std::clamp(static_cast<unsigned>(CPU_COUNT(&cores)), 1u, kMaxWorkers);
}

UnpackStatus UnpackArchive(const char* archivePath, const UnpackOptions& options) {
  std::string reason;
  Archive archive{archivePath, nullptr, 0, {}};
  MappedFilePtr file = OpenPakFile(archivePath, &archive.header, &reason);
  if (!file) {
    ConsoleError("%s: %s", archivePath, reason.c_str());
    return UnpackStatus::kArchiveUnreadable;
  }
  archive.data = file->data;
  archive.size = file->size;
  if (options.keepOutputs) ProtectFromOutputs(file->device, file->inode);

  Selection selection{archive, options.patterns, std::vector<bool>(options.patterns.size())};
  if (options.keepOutputs) {
    const uint64_t needed =
        options.computeNeededSpace ? NeededSpace(selection) : archive.header.totalUnpackedSize;
    if (!CheckFreeSpace(needed)) return UnpackStatus::kDeclined;
  }
  RunCounts counts;
  if (options.workers <= 1) {
    RunInOrder(archive, options, selection, &counts);
  } else {
    RunInParallel(archive, options, selection, &counts);
  }
  if (counts.stopped) return UnpackStatus::kArchiveUnreadable;

  bool unmatched = false;
  for (size_t i = 0; i < options.patterns.size(); ++i) {
    if (selection.matched[i]) continue;
    ConsoleError("%s: no entry matches %s", archivePath, options.patterns[i].c_str());
    unmatched = true;
  }
  if (options.reportDamage) {
    ConsolePrint("%u entries tested: %u ok, %u failed or damaged\n", counts.entries,
                 counts.entries - counts.failed, counts.failed);
  } else if (counts.failed > 0) {
    ConsoleError("%u of %u entries failed", counts.failed, counts.entries);
  }
  return counts.failed > 0 || unmatched ? UnpackStatus::kEntriesFailed : UnpackStatus::kOk;
}
