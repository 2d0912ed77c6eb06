// The command queue and its worker thread.
#include "d3d9/command_queue.h"

#include <pthread.h>

#include <algorithm>
#include <system_error>

namespace d3d9 {

namespace {

// A program that records faster than the worker draws waits once this many chunks are queued,
// so memory stays bounded (about 16 MB of commands) whatever it records between presents.
constexpr size_t kMaxPendingChunks = 64;

}  // namespace

std::atomic<bool> g_deviceWorker{true};

CommandQueue::~CommandQueue() {
  Finish();
  if (worker_.joinable()) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    work_.notify_one();
    worker_.join();
  }
}

// Starts a chunk with room for a command of `size` bytes, handing the full one to the worker.
void CommandQueue::NewChunk(size_t size) {
  if (recording_ && recording_->used > 0) Publish();
  // A program that neither presents nor locks still gets its released resources back.
  UnpinReleased();
  if (!recording_) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!spare_.empty()) {
        recording_ = std::move(spare_.back());
        spare_.pop_back();
      }
    }
    if (!recording_) recording_ = std::make_unique<CommandChunk>();
  }
  if (recording_->bytes.size() < std::max(kChunkBytes, size))
    recording_->bytes.resize(std::max(kChunkBytes, size));
  recording_->used = 0;
}

uint64_t CommandQueue::Publish() {
  if (!recording_ || recording_->used == 0) {
    std::lock_guard<std::mutex> lock(mutex_);
    return published_;
  }
  if (!g_deviceWorker) {
    // Synchronous: after what the worker still has, the commands run here and now.
    if (worker_.joinable()) {
      std::unique_lock<std::mutex> lock(mutex_);
      done_.wait(lock, [this] { return executed_ == published_; });
    }
    ExecuteHere();
    std::lock_guard<std::mutex> lock(mutex_);
    return published_;
  }
  if (!worker_.joinable() && !workerFailed_) {
    try {
      worker_ = std::thread([this] { WorkerMain(); });
    } catch (const std::system_error&) {
      workerFailed_ = true;
    }
  }
  if (workerFailed_) {
    // No second thread: the commands run here and now, in order, as a synchronous device would.
    ExecuteHere();
    std::lock_guard<std::mutex> lock(mutex_);
    return published_;
  }
  std::unique_lock<std::mutex> lock(mutex_);
  pending_.push_back(std::move(recording_));
  const uint64_t chunk = ++published_;
  work_.notify_one();
  done_.wait(lock, [this] { return pending_.size() < kMaxPendingChunks; });
  return chunk;
}

void CommandQueue::ExecuteHere() {
  executor_->Execute(recording_->bytes.data(), recording_->used);
  std::lock_guard<std::mutex> lock(mutex_);
  released_.insert(released_.end(), workerReleases_.begin(), workerReleases_.end());
  workerReleases_.clear();
  recording_->used = 0;
  ++published_;
  ++executed_;
}

void CommandQueue::WorkerMain() {
  pthread_setname_np(pthread_self(), "d3d9 worker");  // what debuggers and top show
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    work_.wait(lock, [this] { return stop_ || !pending_.empty(); });
    if (pending_.empty()) return;  // stopping with nothing left
    std::unique_ptr<CommandChunk> chunk = std::move(pending_.front());
    pending_.pop_front();
    lock.unlock();
    executor_->Execute(chunk->bytes.data(), chunk->used);
    lock.lock();
    chunk->used = 0;
    spare_.push_back(std::move(chunk));
    released_.insert(released_.end(), workerReleases_.begin(), workerReleases_.end());
    workerReleases_.clear();
    ++executed_;
    done_.notify_all();
  }
}

void CommandQueue::Finish() {
  Publish();
  if (worker_.joinable()) {
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait(lock, [this] { return executed_ == published_; });
  }
  UnpinReleased();
}

bool CommandQueue::Executed(uint64_t chunk, bool wait) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (executed_ >= chunk) return true;
  if (!wait) return false;
  done_.wait(lock, [this, chunk] { return executed_ >= chunk; });
  return true;
}

void CommandQueue::UnpinReleased() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    unpinning_.swap(released_);
  }
  for (Pinned* p : unpinning_) p->Unpin();
  unpinning_.clear();
}

}  // namespace d3d9
