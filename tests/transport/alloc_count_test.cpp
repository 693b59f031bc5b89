// Once a thread has its connection, blocking requests that fit the
// connection's buffers allocate nothing on the heap: a malloc that counts
// the calling thread's allocations is linked into this test binary alone
// (sanitizer builds bring their own allocator and skip it).
#include <algorithm>
#include <cstddef>

#include "sim_fixture.h"

extern "C" {
void *__libc_malloc(size_t n);
void *__libc_calloc(size_t n, size_t size);
void *__libc_realloc(void *p, size_t n);
void __libc_free(void *p);
}

namespace {
__thread long t_allocations __attribute__((tls_model("initial-exec"))) = 0;
}  // namespace

extern "C" {
void *malloc(size_t n) {
  ++t_allocations;
  return __libc_malloc(n);
}
void *calloc(size_t n, size_t size) {
  ++t_allocations;
  return __libc_calloc(n, size);
}
void *realloc(void *p, size_t n) {
  ++t_allocations;
  return __libc_realloc(p, n);
}
void free(void *p) { __libc_free(p); }
}

using tt::Bytes;

namespace {

class Allocations : public tt::SimTransport {};

TEST_F(Allocations, BlockingRequestsAllocateNothingPerRequest) {
  struct Case {
    const char *what;
    size_t in, out;  // an echo: the answer is the input cut to the output
    bool server_directed;
    bool free_of_heap;
  };
  const Case cases[] = {
      {"no payload", 0, 0, false, true},
      {"small echo", 64, 64, false, true},
      {"answer cut to the outputs", 300, 100, false, true},
      {"server-directed", 64, 64, true, true},
      {"near the buffers' size", 8000, 8000, false, true},
      // Too large for the connection's buffers: the heap, but still right.
      {"large", 20000, 20000, false, false},
  };
  ASSERT_TRUE(echo_ok(1));  // the thread's connection exists
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    const Bytes in = tt::pattern(c.in, 3);
    Bytes a(c.out / 2, 0), b(c.out - c.out / 2, 0);
    const Bytes want(in.begin(), in.begin() + std::min(c.in, c.out));
    const long before = t_allocations;
    constexpr int kRequests = 200;
    for (int i = 0; i < kRequests; ++i) {
      request_buffer rb{};
      if (c.in) tt::add_input(rb, in);
      if (c.out) {
        tt::add_output(rb, a);
        tt::add_output(rb, b);
      }
      rb.command_type = hsmsim::kEchoCommandType;
      rb.opcode = 1;
      rb.timeout = 10;
      std::fill(a.begin(), a.end(), 0);
      std::fill(b.begin(), b.end(), 0);
      const Int32 r = c.server_directed ? orx_tessaline_cli_send_daemon_new(&rb, 0) : send(rb);
      ASSERT_EQ(r, 0);
      ASSERT_EQ(rb.status, 0);
      // Compared in place: the check itself must not allocate.
      const size_t in_a = std::min(a.size(), want.size());
      ASSERT_TRUE(std::equal(want.begin(), want.begin() + in_a, a.begin()));
      ASSERT_TRUE(std::equal(want.begin() + in_a, want.end(), b.begin()));
    }
    const long allocated = t_allocations - before;
    if (c.free_of_heap)
      EXPECT_EQ(allocated, 0);
    else
      EXPECT_GE(allocated, kRequests);  // the counter does see the library's allocations
  }
}

}  // namespace
