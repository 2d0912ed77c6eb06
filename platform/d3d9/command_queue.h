// The device's command queue: the application's thread records commands into chunks, and a
// worker thread of the queue replays them in order, the way a graphics processor runs a command
// buffer while the program prepares the next frame.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "d3d9/commands.h"
#include "d3d9/device_child.h"

namespace d3d9 {

// When cleared, queues carry out their commands on the application's thread as they are published
// (the automation's switch, for measuring the worker against a synchronous device).
extern std::atomic<bool> g_deviceWorker;

// What replays the commands: called on the worker thread (or on the application's thread when
// there is no worker), one chunk at a time, in recording order.
class CommandExecutor {
 public:
  virtual void Execute(const uint8_t* bytes, size_t size) = 0;

 protected:
  ~CommandExecutor() = default;
};

// A block of recorded commands on its way to the worker.
struct alignas(64) CommandChunk {
  std::vector<uint8_t> bytes;
  size_t used = 0;
};

class CommandQueue {
 public:
  explicit CommandQueue(CommandExecutor* executor) : executor_(executor) {}
  // Carries out what is still queued, then stops the worker.
  ~CommandQueue();
  CommandQueue(const CommandQueue&) = delete;
  CommandQueue& operator=(const CommandQueue&) = delete;

  // --- The application's thread ---
  // Appends a command whose payload T (value-initialised, returned for filling) is followed by
  // `extra` bytes.
  template <class T>
  T* Record(uint32_t op, size_t extra = 0) {
    const size_t size = CommandSize(sizeof(T) + extra);
    if (!recording_ || recording_->used + size > recording_->bytes.size()) NewChunk(size);
    uint8_t* at = recording_->bytes.data() + recording_->used;
    recording_->used += size;
    const CmdHeader header{op, static_cast<uint32_t>(size)};
    std::memcpy(at, &header, sizeof(header));
    return new (at + sizeof(CmdHeader)) T{};
  }
  // Hands the chunk being recorded to the worker (starting the worker on first use). Returns the
  // number of chunks published so far, which names the one just handed over.
  uint64_t Publish();
  // Publishes and waits until every recorded command has run; then drops released pins.
  void Finish();
  // Whether chunk number `chunk` (a value Publish returned) has run; with `wait`, waits for it.
  bool Executed(uint64_t chunk, bool wait);
  // Drops, on the application's thread, the pins the worker has let go of; a resource the
  // application released meanwhile is deleted here.
  void UnpinReleased();

  // --- The worker ---
  // Lets go of a pin taken when a command was recorded; the pin is dropped on the application's
  // thread later.
  void Release(Pinned* p) {
    if (p) workerReleases_.push_back(p);
  }

 private:
  void NewChunk(size_t size);
  void ExecuteHere();
  void WorkerMain();

  CommandExecutor* executor_;
  std::vector<Pinned*> workerReleases_;  // the worker's: pins let go of in the current chunk

  // The application's thread. The worker's fields, the application's and the shared ones each
  // start a cache line of their own: the two threads would otherwise pass lines back and forth
  // on every draw.
  alignas(64) std::unique_ptr<CommandChunk> recording_;
  std::thread worker_;
  bool workerFailed_ = false;  // no thread could be started: commands run as they are published
  std::vector<Pinned*> unpinning_;

  // Shared, under mutex_.
  alignas(64) std::mutex mutex_;
  std::condition_variable work_;  // chunks published, or stop
  std::condition_variable done_;  // a chunk finished
  std::deque<std::unique_ptr<CommandChunk>> pending_;
  std::vector<std::unique_ptr<CommandChunk>> spare_;
  uint64_t published_ = 0;  // chunks handed to the worker
  uint64_t executed_ = 0;   // chunks it has finished
  bool stop_ = false;
  std::vector<Pinned*> released_;  // pins to drop on the application's side
};

}  // namespace d3d9
