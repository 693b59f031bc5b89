// The process-wide table of per-thread daemon connections.
//
// Lock order: sync_free_cli_th_tbl_lock, cli_th_tbl_lock, one bucket's
// index_lock; and sync_free_cli_th_tbl_lock before a record's req_lock.
// Lists change only with cli_th_tbl_lock and the bucket lock held; lookups
// take the bucket lock under cli_th_tbl_lock and then let the table lock go,
// so that threads of different buckets do not wait for each other.
//
// The sends run on every request: they take sync_free_cli_th_tbl_lock
// shared, and a thread remembers its record until any record is removed, a
// table is created or the process forks (the generation below), so that the
// common request takes no lock that other threads' requests need
// exclusively.
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "daemon_intf/transport_internal.h"
#include "qel2_errors.h"

pthread_mutex_t cli_th_tbl_lock = PTHREAD_MUTEX_INITIALIZER;
orx_tessaline_cli_thread_hash *orx_tessaline_cli_threads_table = nullptr;

namespace {

// sync_free_cli_th_tbl_lock, in shards: a reader takes the one shard its
// thread was given, a writer takes every shard in order. Readers of
// different threads then touch no common cache line (one shared rwlock cost
// a tenth of the throughput at 8 threads), and a writer still waits for
// every reader. Writers first: a removal must not wait behind a steady
// stream of requests.
constexpr unsigned kSyncShards = 32;
struct alignas(64) SyncShard {
  pthread_rwlock_t lock = PTHREAD_RWLOCK_WRITER_NONRECURSIVE_INITIALIZER_NP;
};
SyncShard sync_free_cli_th_tbl_lock[kSyncShards];
std::atomic<unsigned> g_next_shard{0};
thread_local int tl_shard = -1;

pthread_rwlock_t *my_shard() {
  if (tl_shard < 0)
    tl_shard = static_cast<int>(g_next_shard.fetch_add(1, std::memory_order_relaxed) % kSyncShards);
  return &sync_free_cli_th_tbl_lock[tl_shard].lock;
}
void lock_all_shards() {
  for (SyncShard &s : sync_free_cli_th_tbl_lock) pthread_rwlock_wrlock(&s.lock);
}
void unlock_all_shards() {
  for (unsigned i = kSyncShards; i-- > 0;)
    pthread_rwlock_unlock(&sync_free_cli_th_tbl_lock[i].lock);
}
pthread_once_t g_atfork_once = PTHREAD_ONCE_INIT;

// Moves on whenever a record may have been freed or a table replaced.
std::atomic<uint64_t> g_generation{1};

// The calling thread's record as last found. A forked child moves the
// generation on as well, so it never takes its parent's record from here.
struct CachedRecord {
  thread_record *record;
  uint64_t generation;
};
thread_local CachedRecord tl_record{nullptr, 0};

// Set on a thread that registered a record: when the thread exits, its
// record goes, so descriptors do not pile up with thread churn and a thread
// that gets a reused id never inherits another's connection.
pthread_key_t g_exit_key;
pthread_once_t g_exit_key_once = PTHREAD_ONCE_INIT;
void on_thread_exit(void *) { del_thread_info(pthread_self()); }
void create_exit_key() { pthread_key_create(&g_exit_key, on_thread_exit); }
void remove_record_at_exit() {
  pthread_once(&g_exit_key_once, create_exit_key);
  if (!pthread_getspecific(g_exit_key)) pthread_setspecific(g_exit_key, &g_exit_key);
}

void init_sync_free() {
  pthread_rwlockattr_t attr;
  pthread_rwlockattr_init(&attr);
  pthread_rwlockattr_setkind_np(&attr, PTHREAD_RWLOCK_PREFER_WRITER_NONRECURSIVE_NP);
  for (SyncShard &s : sync_free_cli_th_tbl_lock) pthread_rwlock_init(&s.lock, &attr);
  pthread_rwlockattr_destroy(&attr);
}

class Locked {
 public:
  explicit Locked(pthread_mutex_t *m) : m_(m) { pthread_mutex_lock(m_); }
  ~Locked() {
    if (m_) pthread_mutex_unlock(m_);
  }
  void unlock() {
    pthread_mutex_unlock(m_);
    m_ = nullptr;
  }
  Locked(const Locked &) = delete;
  Locked &operator=(const Locked &) = delete;

 private:
  pthread_mutex_t *m_;
};

orx_tessaline_cli_thread_hash *bucket_of(orx_tessaline_cli_thread_hash *table, pthread_t tid) {
  return &table[static_cast<uint64_t>(tid) % THREAD_TABLE_BUCKETS];
}

// A fork while another thread changes the table would leave the child a
// half-linked list and locks nobody releases: fork waits for the table locks,
// and the child, alone with them, creates them afresh (only readers may hold
// a bucket lock without the table lock, and readers leave the lists intact).
void atfork_prepare() {
  lock_all_shards();
  pthread_mutex_lock(&cli_th_tbl_lock);
}
void atfork_parent() {
  pthread_mutex_unlock(&cli_th_tbl_lock);
  unlock_all_shards();
}
void atfork_child() {
  g_generation.fetch_add(1);
  if (orx_tessaline_cli_threads_table) {
    for (int i = 0; i < THREAD_TABLE_BUCKETS; ++i)
      pthread_mutex_init(&orx_tessaline_cli_threads_table[i].index_lock, nullptr);
  }
  pthread_mutex_init(&cli_th_tbl_lock, nullptr);
  init_sync_free();
}
void install_atfork() { pthread_atfork(atfork_prepare, atfork_parent, atfork_child); }

enum class Lookup { kFound, kMissing, kNoTable };

Lookup lookup(pid_t pid, pthread_t tid, thread_record **out) {
  *out = nullptr;
  Locked table_lock(&cli_th_tbl_lock);
  if (!orx_tessaline_cli_threads_table) return Lookup::kNoTable;
  orx_tessaline_cli_thread_hash *b = bucket_of(orx_tessaline_cli_threads_table, tid);
  Locked bucket_lock(&b->index_lock);
  table_lock.unlock();
  for (thread_info *t = b->next; t; t = t->next) {
    if (pthread_equal(t->thread_id, tid) && t->pid == pid) {
      *out = record_of(t);
      return Lookup::kFound;
    }
  }
  return Lookup::kMissing;
}

// Frees an unlinked record. same_process: the caller holds its req_lock.
// Otherwise it is a forked child's copy of its parent's record: only the
// child's descriptor is closed (the parent's thread may still use the socket)
// and the lock is left alone (a thread that does not exist here may hold it).
void release_record(thread_record *t, bool same_process) {
  if (t->socket_fd >= 0) close(t->socket_fd);
  t->socket_fd = -1;
  free_all_req_stats(t);
  clear_pending(&t->pend);
  explicit_bzero(t->rx_buf, sizeof t->rx_buf);  // answers carry keys
  if (same_process) {
    pthread_mutex_unlock(&t->req_lock);
    pthread_mutex_destroy(&t->req_lock);
  }
  free(t);
}

}  // namespace

SyncFreeLock::SyncFreeLock(Mode mode) : shard_(nullptr), held_(true) {
  if (mode == kShared) {
    shard_ = my_shard();
    pthread_rwlock_rdlock(shard_);
  } else {
    lock_all_shards();
  }
}
SyncFreeLock::~SyncFreeLock() { unlock(); }
void SyncFreeLock::unlock() {
  if (!held_) return;
  held_ = false;
  if (shard_)
    pthread_rwlock_unlock(shard_);
  else
    unlock_all_shards();
}

orx_tessaline_cli_thread_hash *orx_tessaline_cli_create_threads_table(void) {
  pthread_once(&g_atfork_once, install_atfork);
  g_generation.fetch_add(1);  // records of an earlier table are not this table's
  const size_t size = sizeof(orx_tessaline_cli_thread_hash) * THREAD_TABLE_BUCKETS;
  auto *table = static_cast<orx_tessaline_cli_thread_hash *>(calloc(1, size));
  if (!table) {
    printf("y5dev_calloc failed : size %lu :orx_tessaline_cli_create_threads_table\n",
           static_cast<unsigned long>(size));
    return nullptr;
  }
  for (int i = 0; i < THREAD_TABLE_BUCKETS; ++i) pthread_mutex_init(&table[i].index_lock, nullptr);
  return table;
}

int orx_tessaline_cli_register_thread(void) {
  auto *t = static_cast<thread_record *>(calloc(1, sizeof(thread_record)));
  if (!t) {
    printf("y5dev_calloc failed : size %lu :orx_tessaline_cli_register_thread\n",
           static_cast<unsigned long>(sizeof(thread_record)));
    return -1;
  }
  t->b_req_id = kFirstBlockingReqId;
  t->nb_req_id = 0;
  t->socket_fd = -1;
  t->rcvtimeo_ms = -1;
  t->pend.header = 1;
  pthread_mutex_init(&t->req_lock, nullptr);
  t->thread_id = pthread_self();

  t->socket_fd = connect_daemon_socket();
  if (t->socket_fd < 0) {
    pthread_mutex_destroy(&t->req_lock);
    free(t);
    return -1;
  }
  t->pid = getpid();

  Locked table_lock(&cli_th_tbl_lock);
  if (!orx_tessaline_cli_threads_table) {
    table_lock.unlock();
    close(t->socket_fd);
    pthread_mutex_destroy(&t->req_lock);
    free(t);
    return -1;
  }
  orx_tessaline_cli_thread_hash *b = bucket_of(orx_tessaline_cli_threads_table, t->thread_id);
  Locked bucket_lock(&b->index_lock);
  thread_info **tail = &b->next;
  while (*tail) tail = &(*tail)->next;
  *tail = t;
  bucket_lock.unlock();
  table_lock.unlock();
  remove_record_at_exit();
  return 0;
}

void drop_connection(thread_record *t) {
  if (t->socket_fd >= 0) close(t->socket_fd);
  t->socket_fd = -1;
  t->rcvtimeo_ms = -1;
  t->stream_dead = 0;
  t->largest_sent = 0;
  t->longest_wait_s = 0;
  free_waiting_req_stats(t);
  clear_pending(&t->pend);
  explicit_bzero(t->rx_buf, sizeof t->rx_buf);
  t->rx_off = 0;
  t->rx_len = 0;
}

thread_record *get_thread_info() {
  thread_record *t = nullptr;
  lookup(getpid(), pthread_self(), &t);
  return t;
}

Int32 get_thread_info_and_create(thread_record **ret_thr_info) {
  *ret_thr_info = nullptr;
  // With sync_free_cli_th_tbl_lock held no record can be freed, so a record
  // found since the last removal, table creation or fork is still this
  // thread's.
  const uint64_t generation = g_generation.load();
  if (tl_record.record && tl_record.generation == generation && tl_record.record->socket_fd != -1 &&
      !tl_record.record->stream_dead) {
    *ret_thr_info = tl_record.record;
    return 0;
  }
  thread_record *t = nullptr;
  Lookup found = lookup(getpid(), pthread_self(), &t);
  if (found == Lookup::kNoTable) return TESSALINE_INVALID_OPERATION;
  if (found == Lookup::kMissing) {
    if (orx_tessaline_cli_register_thread() != 0) {
      printf("Could not retrieve/create Thread Info ");
      return TESSALINE_SOCKET_CONNECT;
    }
    t = get_thread_info();
    if (!t) {
      printf("Could not retrieve Thread Info ");
      return -1;
    }
  }
  if (t->stream_dead) {
    // Only this thread uses its record, and a removal waits for the lock
    // held here: the connection can be replaced in place.
    drop_connection(t);
    t->socket_fd = connect_daemon_socket();
    if (t->socket_fd < 0) t->stream_dead = 1;  // try again on the next request
  }
  if (t->socket_fd == -1) {
    printf("Not connected to the Socket");
    return TESSALINE_SOCKET_CONNECT;
  }
  tl_record = CachedRecord{t, generation};
  *ret_thr_info = t;
  return 0;
}

void del_thread_info(pthread_t thread_id) {
  const pid_t pid = getpid();
  SyncFreeLock sync(SyncFreeLock::kExclusive);
  Locked table_lock(&cli_th_tbl_lock);
  if (!orx_tessaline_cli_threads_table) return;
  orx_tessaline_cli_thread_hash *b = bucket_of(orx_tessaline_cli_threads_table, thread_id);
  thread_info *t = nullptr;
  {
    Locked bucket_lock(&b->index_lock);
    for (thread_info **link = &b->next; *link; link = &(*link)->next) {
      if (pthread_equal((*link)->thread_id, thread_id) && (*link)->pid == pid) {
        t = *link;
        *link = t->next;
        break;
      }
    }
  }
  table_lock.unlock();
  if (!t) return;
  g_generation.fetch_add(1);
  // Wake an exchange that may be blocked on this socket before waiting for it.
  if (t->socket_fd >= 0) shutdown(t->socket_fd, SHUT_RDWR);
  pthread_mutex_lock(&t->req_lock);  // waits for an exchange in progress
  sync.unlock();
  release_record(record_of(t), true);
}

void orx_tessaline_cli_unregister_thread(void) { del_thread_info(pthread_self()); }

void orx_tessaline_cli_unregister_thread_new(pthread_t thr_id) { del_thread_info(thr_id); }

void orx_tessaline_cli_delete_threads_table(void) {
  orx_tessaline_cli_thread_hash *table = nullptr;
  {
    SyncFreeLock sync(SyncFreeLock::kExclusive);
    Locked table_lock(&cli_th_tbl_lock);
    table = orx_tessaline_cli_threads_table;
    orx_tessaline_cli_threads_table = nullptr;
    g_generation.fetch_add(1);
  }
  if (!table) return;
  const pid_t pid = getpid();
  // First wake every exchange of this process, so the waits below are short.
  for (int i = 0; i < THREAD_TABLE_BUCKETS; ++i) {
    Locked bucket_lock(&table[i].index_lock);
    for (thread_info *t = table[i].next; t; t = t->next)
      if (t->pid == pid && t->socket_fd >= 0) shutdown(t->socket_fd, SHUT_RDWR);
  }
  for (int i = 0; i < THREAD_TABLE_BUCKETS; ++i) {
    Locked bucket_lock(&table[i].index_lock);
    while (thread_info *t = table[i].next) {
      table[i].next = t->next;
      const bool own = t->pid == pid;
      if (own) pthread_mutex_lock(&t->req_lock);  // waits for an exchange in progress
      release_record(record_of(t), own);
    }
  }
  for (int i = 0; i < THREAD_TABLE_BUCKETS; ++i) pthread_mutex_destroy(&table[i].index_lock);
  free(table);
}
