#include "run/entry_pipeline.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/work_ahead.h"
#include "run/entry_task.h"

namespace unpak {

namespace {

void Count(const EntryTask& task, RunCounts* counts) {
  ++counts->entries;
  if (!task.ok) {
    ++counts->failed;
  } else if (!task.damage.empty()) {
    ++counts->damaged;
  }
  if (task.outputError != 0) counts->outputError = task.outputError;
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

void RunWorker(const OpenedArchive& archive, const UnpackOptions& options, Selection& selection,
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
    {
      const ScopedConsoleCapture capture(task->transcript);
      ConvertEntry(archive, options, *task, split ? &pipeline.helpers : nullptr);
    }
    FinishConsoleCapture(task->transcript);
  }
  HelpWithSegments(pipeline.helpers);
}

}  // namespace

void RunInOrder(const OpenedArchive& archive, const UnpackOptions& options, Selection& selection,
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

void RunInParallel(const OpenedArchive& archive, const UnpackOptions& options, Selection& selection,
                   RunCounts* counts) {
  Pipeline pipeline;
  pipeline.next = NextSelected(selection, 0);
  std::vector<std::thread> workers;
  // A worker that cannot be started (a process limit, a container's pid
  // limit) leaves the entries to those that did, or to this thread alone.
  try {
    for (unsigned i = 0; i < std::min(options.workers, kMaxWorkers); ++i) {
      workers.emplace_back(RunWorker, std::cref(archive), std::cref(options), std::ref(selection),
                           std::ref(pipeline));
    }
  } catch (const std::system_error&) {
  }
  if (workers.empty()) {
    RunInOrder(archive, options, selection, counts);
    return;
  }
  {
    std::lock_guard<std::mutex> lock(pipeline.mutex);
    pipeline.window = WorkWindow(static_cast<unsigned>(workers.size()));
    // As many segments at once as workers: each has one to decode.
    pipeline.helpers.ahead = workers.size() - 1;
  }
  pipeline.changed.notify_all();
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
    ShowConsoleCapture(task->transcript);
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

}  // namespace unpak
