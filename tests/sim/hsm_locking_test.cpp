// A long operation (key-pair generation) holds neither the whole HSM nor its
// partition against other requests: requests of other connections, of the
// same partition, are answered while it runs.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

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
