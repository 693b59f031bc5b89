// Small helpers shared by the management operations of this folder.
#ifndef QEL2_MGMT_MGMT_COMMON_H
#define QEL2_MGMT_MGMT_COMMON_H

#include <pthread.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace qel2::mgmt {

// Holds a pthread mutex for one scope.
class PthreadLock {
 public:
  explicit PthreadLock(pthread_mutex_t &m) : m_(m) { pthread_mutex_lock(&m_); }
  ~PthreadLock() { pthread_mutex_unlock(&m_); }
  PthreadLock(const PthreadLock &) = delete;
  PthreadLock &operator=(const PthreadLock &) = delete;

 private:
  pthread_mutex_t &m_;
};

// Length of a caller's name, reading no byte past its stated length (nor
// past limit): the bytes up to the first NUL within that span. A name whose
// stated length is right, terminated or not, comes back as that length.
inline size_t bounded_name_len(const void *name, uint64_t stated, size_t limit) {
  size_t span = stated < limit ? static_cast<size_t>(stated) : limit;
  const void *nul = span ? std::memchr(name, 0, span) : nullptr;
  return nul ? static_cast<size_t>(static_cast<const uint8_t *>(nul) -
                                   static_cast<const uint8_t *>(name))
             : span;
}

}  // namespace qel2::mgmt

#endif
