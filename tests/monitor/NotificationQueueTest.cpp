#include "monitor/NotificationQueue.h"

#include <gtest/gtest.h>

#include <thread>

namespace vantrel {
namespace {

std::vector<ChangeNotification> Batch(std::initializer_list<const char*> paths) {
  std::vector<ChangeNotification> batch;
  for (const char* path : paths) batch.push_back({SHCNE_CREATE, std::string(path), std::nullopt, 0});
  return batch;
}

std::vector<std::string> Paths(const std::vector<ChangeNotification>& items) {
  std::vector<std::string> paths;
  for (const auto& item : items) paths.push_back(item.item1.value_or(""));
  return paths;
}

// The GUI thread's event loop wakes only through the ready handle: one left
// raised spins it, one cleared while something waits leaves that unseen.
TEST(NotificationQueue, ReadyExactlyWhileSomethingWaits) {
  NotificationQueue queue;
  EXPECT_FALSE(platform::IsRaised(queue.ReadyHandle()));
  auto first = Batch({"/a", "/b"});
  queue.Push(first);
  EXPECT_TRUE(first.empty());
  auto second = Batch({"/c"});
  queue.Push(second);
  EXPECT_TRUE(platform::IsRaised(queue.ReadyHandle()));

  std::vector<ChangeNotification> taken = Batch({"/earlier"});
  queue.TakeAll(taken);
  EXPECT_EQ(Paths(taken), (std::vector<std::string>{"/earlier", "/a", "/b", "/c"})) << "appended in order";
  EXPECT_FALSE(platform::IsRaised(queue.ReadyHandle()));

  queue.Report(SourceReport{SourceReport::QueueOverflow, 1, "rescanned"});
  EXPECT_TRUE(platform::IsRaised(queue.ReadyHandle()));
  taken.clear();
  queue.TakeAll(taken);
  EXPECT_TRUE(taken.empty());
  EXPECT_TRUE(platform::IsRaised(queue.ReadyHandle())) << "a report not yet taken keeps it raised";
  auto reports = queue.TakeReports();
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].detail, "rescanned");
  queue.TakeAll(taken);
  EXPECT_FALSE(platform::IsRaised(queue.ReadyHandle()));
}

TEST(NotificationQueue, ARaiseFromTheReaderThreadIsSeenByTheWaitingThread) {
  NotificationQueue queue;
  std::thread reader([&] {
    for (int i = 0; i < 1000; ++i) {
      auto batch = Batch({"/x"});
      queue.Push(batch);
    }
  });
  reader.join();
  EXPECT_TRUE(platform::IsRaised(queue.ReadyHandle()));
  std::vector<ChangeNotification> taken;
  queue.TakeAll(taken);
  EXPECT_EQ(taken.size(), 1000u) << "nothing lost between threads";
  EXPECT_FALSE(platform::IsRaised(queue.ReadyHandle())) << "one clear undoes any number of raises";
}

}  // namespace
}  // namespace vantrel
