// One accepted connection: a reader thread that frames and serves requests
// in arrival order, and (started when first needed) a writer thread for
// answers that are delayed, held, chunked or cut off.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <thread>
#include <unordered_map>
#include <vector>

#include "daemon/framing.h"

namespace hsmsim::daemon {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

struct Delivery {
  std::vector<uint8_t> bytes;  // header + payload
  size_t chunk = 0;            // >0: write in pieces of this size
  milliseconds pause{0};       // between pieces
  std::optional<size_t> close_after;

  bool plain() const { return chunk == 0 && !close_after; }
};

// Requests framed and requests whose handling is over, over all connections.
// A request counts as answered only once what its answer held is released,
// so that a waiter sees no allocation of it still alive.
struct Activity {
  std::atomic<size_t> read{0};
  std::atomic<size_t> answered{0};
};

class Connection;
// Serves one framed message (called on the reader thread).
using MessageHandler = std::function<void(Connection &, std::span<const uint8_t>, const Frame &)>;

class Connection {
 public:
  Connection(int fd, int index, MessageHandler handler, Activity &activity);
  ~Connection();  // joins both threads and closes the socket
  Connection(const Connection &) = delete;
  Connection &operator=(const Connection &) = delete;

  void start();
  void stop();  // wakes the threads; the connection then ends
  bool finished() const { return finished_.load(std::memory_order_acquire); }
  int index() const { return index_; }
  size_t unread_bytes();  // waiting on the socket, not yet read

  // Sends an answer: at once when it is plain and not held, else through the writer.
  void deliver(Delivery d, milliseconds delay, milliseconds nonblocking_hold);

  // Per-node results of replicated requests, for CLUSTER_REQUEST_STATUS
  // (reader thread only).
  void remember_cluster(uint32_t req_id, uint32_t status);
  std::optional<uint32_t> cluster_status(uint32_t req_id) const;

 private:
  struct Timed {
    Clock::time_point due;
    uint64_t seq;
    Delivery d;
  };

  void read_loop();
  bool fill(size_t need);  // until `need` bytes are buffered; false at the end of the stream
  void peek_more();        // whatever has arrived, without waiting
  void write_loop();
  void write_delivery(const Delivery &d);
  bool write_all(const uint8_t *p, size_t n);
  void shutdown_socket();
  void ensure_writer();
  void answered(size_t n) { activity_.answered.fetch_add(n); }

  int fd_;
  const int index_;
  MessageHandler handler_;
  Activity &activity_;
  bool to_writer_ = false;  // reader thread: the request served now was queued for the writer
  std::atomic<bool> finished_{false};
  std::atomic<bool> stopping_{false};

  std::mutex fd_mu_;     // guards fd_ against close while another thread shuts it down
  std::mutex write_mu_;  // one answer at a time on the wire

  std::vector<uint8_t> buf_;
  size_t start_ = 0, end_ = 0;

  std::mutex q_mu_;
  std::condition_variable q_cv_;
  std::vector<Timed> timed_;
  std::vector<Delivery> held_;  // non-blocking answers held together
  Clock::time_point held_due_{};
  uint64_t seq_ = 0;
  bool writer_started_ = false;
  bool writer_stop_ = false;

  std::unordered_map<uint32_t, uint32_t> cluster_;
  std::deque<uint32_t> cluster_order_;

  std::thread writer_;
  std::thread reader_;
};

}  // namespace hsmsim::daemon
