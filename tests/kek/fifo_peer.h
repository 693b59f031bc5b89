// A FIFO planted at a key file's name, with a thread at its other end: it
// waits in open() for the code under test, then gives it `bytes` (a file
// that code reads) or takes what it writes (a file it writes). Code that
// opens the FIFO like a file so ends with a wrong result instead of waiting
// for ever; code that refuses it leaves the thread waiting, and the
// destructor releases it by opening the far end itself.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>

namespace kek_test {

class FifoPeer {
 public:
  enum Side { kFeeds, kDrains };

  FifoPeer(std::string path, Side side, std::string bytes = {})
      : path_(std::move(path)), side_(side), bytes_(std::move(bytes)) {
    made_ = mkfifo(path_.c_str(), 0600) == 0;
    if (made_) thread_ = std::thread([this] { run(); });
  }
  ~FifoPeer() {
    if (!thread_.joinable()) return;
    // Opening the far end is the partner the thread waits for; until it is
    // past its own open (which may not have begun yet), open it again.
    while (!past_open_) {
      const int fd = open(path_.c_str(), (side_ == kFeeds ? O_RDONLY : O_WRONLY) | O_NONBLOCK);
      if (fd >= 0) close(fd);
      std::this_thread::yield();
    }
    thread_.join();
  }
  FifoPeer(const FifoPeer &) = delete;
  FifoPeer &operator=(const FifoPeer &) = delete;

  bool made() const { return made_; }

 private:
  void run() {
    // A reader gone before the bytes are written is no failure of the test.
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
    const int fd = open(path_.c_str(), (side_ == kFeeds ? O_WRONLY : O_RDONLY) | O_CLOEXEC);
    past_open_ = true;
    if (fd < 0) return;
    if (side_ == kFeeds) {
      [[maybe_unused]] const ssize_t n = write(fd, bytes_.data(), bytes_.size());
    } else {
      char sink[4096];
      while (read(fd, sink, sizeof sink) > 0) continue;
    }
    close(fd);
  }

  std::string path_;
  Side side_;
  std::string bytes_;
  bool made_ = false;
  std::atomic<bool> past_open_{false};
  std::thread thread_;
};

// What a test puts at a key file's name in place of the file.
struct Plant {
  enum Kind { kFeedingFifo, kDrainingFifo, kSymlink } kind;
  std::string arg;  // the bytes a feeding FIFO gives; the target of a symlink
};

// Puts `p` at `path`, replacing what was there; false when it could not be
// made. A FIFO's peer lives as long as `peer`.
inline bool put(const std::string &path, const Plant &p, std::unique_ptr<FifoPeer> &peer) {
  std::remove(path.c_str());
  if (p.kind == Plant::kSymlink) return symlink(p.arg.c_str(), path.c_str()) == 0;
  peer = std::make_unique<FifoPeer>(
      path, p.kind == Plant::kFeedingFifo ? FifoPeer::kFeeds : FifoPeer::kDrains, p.arg);
  return peer->made();
}

}  // namespace kek_test
