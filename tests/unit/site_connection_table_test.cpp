// Which connections the site lets in, and which it lets go when full.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "site/connection_table.hpp"

namespace {

using zelvor::site::ConnectionTable;
using namespace std::chrono_literals;

struct Held final : zelvor::site::HeldConnection {
  void drop() override {}
  void stop() override {}
  void abandon() override {}
};

const ConnectionTable::Clock::time_point t0{};

class Connections : public testing::Test {
 protected:
  // Admits a connection from `address` at t0 + `at`; its id, or 0 when
  // refused; `evicted` tells which of the held ones was dropped for it.
  ConnectionTable::Id admit(ConnectionTable& table, const std::string& address,
                            std::chrono::seconds at = 0s) {
    held.push_back(std::make_shared<Held>());
    const ConnectionTable::Admission admission = table.admit(address, held.back(), t0 + at);
    evicted = -1;
    for (std::size_t i = 0; i < held.size(); ++i)
      if (admission.evicted == held[i]) evicted = static_cast<int>(i);
    addressFull = admission.addressFull;
    return admission.id.value_or(0);
  }

  std::vector<std::shared_ptr<Held>> held;
  int evicted = -1;
  bool addressFull = false;
};

TEST_F(Connections, OneAddressHoldsAtMostItsShareExceptTheBalancer) {
  ConnectionTable table({10, 2, "10.0.0.1"});
  EXPECT_NE(admit(table, "a"), 0u);
  const ConnectionTable::Id second = admit(table, "a");
  EXPECT_NE(second, 0u);
  EXPECT_EQ(admit(table, "a"), 0u);
  EXPECT_TRUE(addressFull);
  EXPECT_NE(admit(table, "b"), 0u);
  for (int i = 0; i < 5; ++i) EXPECT_NE(admit(table, "10.0.0.1"), 0u);
  EXPECT_EQ(table.size(), 8u);
  // A closed connection gives its address the room back.
  table.remove(second);
  EXPECT_NE(admit(table, "a"), 0u);
  EXPECT_EQ(evicted, -1);
}

TEST_F(Connections, AFullTableDropsTheLongestWaitingAndNeverABusyOne) {
  ConnectionTable table({3, 10, ""});
  const ConnectionTable::Id first = admit(table, "a", 1s);
  const ConnectionTable::Id second = admit(table, "b", 2s);
  const ConnectionTable::Id third = admit(table, "c", 3s);
  // The first has its request; the second waits again, for its next one.
  table.busy(first);
  table.waiting(second, t0 + 4s);
  EXPECT_NE(admit(table, "d", 5s), 0u);
  EXPECT_EQ(evicted, 2);
  EXPECT_FALSE(addressFull);
  // Dropped, it is gone: closing it later changes nothing.
  table.remove(third);
  EXPECT_EQ(table.size(), 3u);
  EXPECT_NE(admit(table, "e", 6s), 0u);
  EXPECT_EQ(evicted, 1);
  table.busy(4);
  table.busy(5);
  EXPECT_EQ(admit(table, "f", 7s), 0u);
  EXPECT_FALSE(addressFull);
  EXPECT_EQ(table.size(), 3u);
}

TEST_F(Connections, AllListsTheLiveConnections) {
  ConnectionTable table({5, 5, ""});
  admit(table, "a");
  admit(table, "b");
  held[0].reset();
  const auto all = table.all();
  ASSERT_EQ(all.size(), 1u);
  EXPECT_EQ(all[0], held[1]);
}

}  // namespace
