#include "create/encoding_queue.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

#include "create/entry_encoding.h"
#include "platform/console.h"
#include "platform/work_ahead.h"

namespace unpak {

struct EncodingTask {
  PlannedEntry* entry = nullptr;
  ConsoleCapture transcript;  // its line, while encoded ahead of its turn
  bool encoded = false;
  std::string reason;  // why its audio failed to encode
};

struct EncodingQueue {
  const struct stat* archive = nullptr;
  std::vector<EncodingTask> tasks;  // in the order they are written
  std::mutex mutex;
  std::condition_variable changed;
  size_t claimed = 0;  // tasks taken by workers, from the first
  size_t written = 0;  // tasks written, from the first
  size_t window = 0;   // tasks claimed and not yet written, at most
  bool stop = false;
  std::vector<std::thread> workers;
};

namespace {

void RunEncodingWorker(EncodingQueue& queue) {
  for (;;) {
    EncodingTask* task = nullptr;
    {
      std::unique_lock<std::mutex> lock(queue.mutex);
      queue.changed.wait(lock, [&] {
        return queue.stop || queue.claimed >= queue.tasks.size() ||
               queue.claimed < queue.written + queue.window;
      });
      if (queue.stop || queue.claimed >= queue.tasks.size()) return;
      task = &queue.tasks[queue.claimed++];
    }
    {
      const ScopedConsoleCapture capture(task->transcript);
      task->encoded = EncodeEntryAudio(*task->entry, queue.archive, &task->reason);
    }
    FinishConsoleCapture(task->transcript);
  }
}

}  // namespace

void EncodingQueueDeleter::operator()(EncodingQueue* queue) const {
  {
    std::lock_guard<std::mutex> lock(queue->mutex);
    queue->stop = true;
  }
  queue->changed.notify_all();
  for (std::thread& worker : queue->workers) worker.join();
  delete queue;
}

EncodingQueuePtr StartEncoding(const std::vector<PlannedEntry*>& entries,
                               const struct stat* archive, unsigned workers) {
  EncodingQueuePtr queue(new EncodingQueue);
  queue->archive = archive;
  queue->tasks = std::vector<EncodingTask>(entries.size());
  for (size_t i = 0; i < entries.size(); ++i) queue->tasks[i].entry = entries[i];
  // No more workers than entries: the others would have nothing to do.
  const size_t threads = workers > 1 ? std::min<size_t>(workers, entries.size()) : 0;
  for (size_t i = 0; i < threads; ++i) {
    try {
      queue->workers.emplace_back(RunEncodingWorker, std::ref(*queue));
    } catch (const std::system_error&) {
      break;  // the run goes on with the workers that started
    }
  }
  {
    std::lock_guard<std::mutex> lock(queue->mutex);
    queue->window = WorkWindow(static_cast<unsigned>(queue->workers.size()));
  }
  queue->changed.notify_all();
  return queue;
}

StepResult WriteNextEntry(EncodingQueue& queue, const std::string& archivePath,
                          const PayloadWriter& write) {
  // Only this thread moves `written` on, so reading it needs no lock.
  EncodingTask& task = queue.tasks[queue.written];
  if (queue.workers.empty()) {
    task.encoded = EncodeEntryAudio(*task.entry, queue.archive, &task.reason);
  } else {
    ShowConsoleCapture(task.transcript);
  }
  const StepResult result =
      WriteEncodedEntry(*task.entry, task.encoded, std::move(task.reason), archivePath, write);
  {
    std::lock_guard<std::mutex> lock(queue.mutex);
    ++queue.written;
  }
  queue.changed.notify_all();
  return result;
}

}  // namespace unpak
