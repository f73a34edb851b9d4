// The benchmark's loopback floor replays exchanges of any shape in full.
#include "tools/agentsim/bench.h"

#include <gtest/gtest.h>

namespace agentsim {
namespace {

TEST(LoopbackExchangesTest, ReplaysEveryExchangeWhateverItsShape) {
  // Bursts of many small messages, a single pair, and answers far larger
  // than a socket buffer (the writer must not wait on a reader that waits
  // on it).
  std::vector<ExchangeShape> shapes = {
      {{75, 80, 77, 90}, {88, 120, 3000, 1}},
      {{1}, {1}},
      {{100, 100}, {4u << 20, 100}},
  };
  std::vector<double> samples;
  std::string error;
  ASSERT_TRUE(LoopbackExchanges(shapes, 7, &samples, &error)) << error;
  ASSERT_EQ(samples.size(), 7u);
  for (double us : samples) EXPECT_GT(us, 0);

  EXPECT_FALSE(LoopbackExchanges({}, 1, &samples, &error));
  EXPECT_FALSE(error.empty());
}

TEST(PercentileTest, NearestRankOfTheSortedSamples) {
  std::vector<double> none;
  EXPECT_EQ(Percentile(&none, 0.5), 0);
  std::vector<double> v;
  for (int i = 100; i >= 1; --i) v.push_back(i);
  EXPECT_EQ(Percentile(&v, 0.50), 50);
  EXPECT_EQ(Percentile(&v, 0.99), 99);
  EXPECT_EQ(Percentile(&v, 1.0), 100);
  EXPECT_EQ(Percentile(&v, 0.0), 1);
}

}  // namespace
}  // namespace agentsim
