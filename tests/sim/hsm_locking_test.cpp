// A long operation (key-pair generation) holds neither the whole HSM nor its
// partition against other requests: requests of other connections, of the
// same partition, are answered while it runs.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>
#include <vector>

#include "hsm_client.h"

using hsmsim::Daemon;
namespace def = hsmsim::defaults;
using simtest::Be;
using simtest::HsmClient;

namespace {
constexpr uint16_t kGenerateKeyPair = 25;
}  // namespace

TEST(HsmLocking, RequestsOfOtherConnectionsAreAnsweredWhileALongOperationRuns) {
  Daemon d;
  std::promise<void> started, release;
  std::shared_future<void> released = release.get_future().share();
  d.hsm().set_slow_operation(0, kGenerateKeyPair, [&started, released] {
    started.set_value();
    released.wait();
  });

  HsmClient slow(d), other(d);
  auto app = other.app_init(def::kPartition);
  auto sess = other.open_session(app.id, app.nonce);
  ASSERT_EQ(sess.code, 0u);

  simtest::Mgmt long_answer;
  std::thread t([&] {
    long_answer =
        slow.call(kGenerateKeyPair, {Be().session_header(sess.handle).b}, {16}, sess.handle);
  });
  ASSERT_EQ(started.get_future().wait_for(std::chrono::seconds(5)), std::future_status::ready);

  // Meanwhile, on another connection and the same partition.
  EXPECT_EQ(other.session_info(sess.handle).code, 0u);
  EXPECT_EQ(other.login(sess.handle, 1, def::kUserName, def::kUserPassword), 0u);
  auto app2 = other.app_init(def::kPartition);
  EXPECT_EQ(other.open_session(app2.id, app2.nonce).code, 0u);
  EXPECT_EQ(d.hsm().sessions().size(), 2u);

  release.set_value();
  t.join();
  EXPECT_EQ(long_answer.status, 0u);
}

// A change to a partition as a whole waits for the partition's running long
// operation; other partitions go on meanwhile.
TEST(HsmLocking, AWholePartitionRequestWaitsForTheRunningOnes) {
  constexpr uint16_t kWholeChange = 200;
  Daemon d;
  std::promise<void> started, release;
  std::shared_future<void> released = release.get_future().share();
  std::atomic<bool> changed{false};
  d.hsm().set_slow_operation(0, kGenerateKeyPair, [&started, released] {
    started.set_value();
    released.wait();
  });
  d.hsm().set_slow_operation(
      0, kWholeChange, [&changed] { changed = true; }, true);

  HsmClient slow(d), whole(d), other(d);
  auto app = other.app_init(def::kPartition);
  auto sess = other.open_session(app.id, app.nonce);
  ASSERT_EQ(sess.code, 0u);
  std::thread t1([&] {
    slow.call(kGenerateKeyPair, {Be().session_header(sess.handle).b}, {16}, sess.handle);
  });
  ASSERT_EQ(started.get_future().wait_for(std::chrono::seconds(5)), std::future_status::ready);
  std::thread t2(
      [&] { whole.call(kWholeChange, {Be().session_header(sess.handle).b}, {16}, sess.handle); });

  EXPECT_EQ(other.app_init(def::kAdminPartition).code, 0u);  // partition 0 is free
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_FALSE(changed);
  release.set_value();
  t1.join();
  t2.join();
  EXPECT_TRUE(changed);
}

// Signing computes without the state lock, with the request's own copy of
// the key: a key object destroyed while other threads sign with it leaves
// each request either signed or refused as an unknown handle, never
// computing with a freed key (the sanitizer builds watch the memory).
TEST(HsmLocking, AKeyDestroyedWhileThreadsSignWithItSignsOrIsUnknown) {
  constexpr uint32_t kClass = 0, kKeyType = 0x100, kModulusBits = 0x121;
  constexpr uint32_t kPrime256v1 = 415, kInvalidObjHandle = 0xA8;
  Daemon d;
  HsmClient c(d);
  auto app = c.app_init(def::kPartition);
  auto sess = c.open_session(app.id, app.nonce);
  ASSERT_EQ(c.login(sess.handle, 1, def::kUserName, def::kUserPassword), 0u);
  hsmsim::ObjectSeed seed;
  seed.attributes = {hsmsim::ObjectAttr::number(kClass, 3), hsmsim::ObjectAttr::number(kKeyType, 3),
                     hsmsim::ObjectAttr::number(kModulusBits, kPrime256v1)};
  seed.key.assign(32, 0x11);
  const hsmsim::ObjectResult key = d.hsm().seed_object(seed);
  ASSERT_EQ(key.code, 0u);

  // ECDSA with the caller's k: [k and hash lengths] [k] [key] [hash].
  const std::vector<uint8_t> word = Be().u32(0).u16(32).u16(32).b, k(32, 0x05), hash(32, 0x33),
                             handle = Be().u32(0).u32(static_cast<uint32_t>(key.handle)).b;
  hsmsim::HsmRequest req;
  req.command_type = 4, req.opcode = 0x601E, req.param1 = 0x2002;
  req.session_handle = sess.handle, req.key_handle = key.handle;
  req.inputs = {word, k, handle, hash}, req.output_sizes = {32, 32};

  std::atomic<int> signed_count{0}, other{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&] {
      for (;;) {  // until the key is gone
        const uint32_t status = d.hsm().execute(req).status;
        if (status == kInvalidObjHandle) return;
        if (status == 0)
          ++signed_count;
        else
          ++other;
      }
    });
  while (signed_count < 64) std::this_thread::yield();
  EXPECT_TRUE(d.hsm().destroy_object(key.handle));
  for (auto &t : threads) t.join();
  EXPECT_EQ(other, 0);
}
