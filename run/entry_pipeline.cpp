#include "run/entry_pipeline.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "run/entry_task.h"

namespace unpak {

namespace {

// Entries converted ahead of the one whose line is being printed, per worker.
constexpr size_t kTasksAheadPerWorker = 2;

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
};

void RunWorker(const OpenedArchive& archive, const UnpackOptions& options, Selection& selection,
               Pipeline& pipeline) {
  for (;;) {
    EntryTask* task = nullptr;
    {
      std::unique_lock<std::mutex> lock(pipeline.mutex);
      pipeline.changed.wait(lock, [&] {
        return pipeline.stop || pipeline.next >= archive.header.entryCount ||
               pipeline.tasks.size() < pipeline.window;
      });
      if (pipeline.stop || pipeline.next >= archive.header.entryCount) return;
      pipeline.tasks.push_back(std::make_unique<EntryTask>());
      task = pipeline.tasks.back().get();
      task->index = pipeline.next;
      pipeline.next = NextSelected(selection, pipeline.next + 1);
    }
    pipeline.changed.notify_all();
    {
      const ScopedConsoleCapture capture(task->transcript);
      ConvertEntry(archive, options, *task);
    }
    // Notified under the lock: once it sees the task finished, the printing
    // thread may destroy it.
    std::lock_guard<std::mutex> lock(task->transcript.mutex);
    task->transcript.finished = true;
    task->transcript.changed.notify_all();
  }
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
    pipeline.window = workers.size() * kTasksAheadPerWorker + 1;
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
  for (std::thread& worker : workers) worker.join();
}

}  // namespace unpak
