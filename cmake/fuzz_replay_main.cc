// The replay test of a fuzz entry, built into every <folder>_<name>_fuzz_replay
// (cmake/QvdHelpers.cmake, qvd_fuzz_target): feeds the entry its seed corpus
// (the folder QVD_FUZZ_CORPUS), deterministic mutations of the seeds, and
// long repetitions of them.  Passing means no crash and no failed check of
// the entry; under the sanitizer presets also no overrun, leak, undefined
// behaviour or data race.
#include <dirent.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace {

std::vector<std::string> LoadCorpus() {
  std::vector<std::string> names;
  DIR* d = opendir(QVD_FUZZ_CORPUS);
  if (d == nullptr) return {};
  while (dirent* e = readdir(d)) {
    if (e->d_name[0] != '.') names.push_back(e->d_name);
  }
  closedir(d);
  std::sort(names.begin(), names.end());  // the same order on every run
  std::vector<std::string> seeds;
  for (const std::string& name : names) {
    std::ifstream in(std::string(QVD_FUZZ_CORPUS) + "/" + name, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    seeds.push_back(text.str());
  }
  return seeds;
}

void Feed(const std::string& input) {
  LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(input.data()), input.size());
}

TEST(FuzzReplay, SeedCorpus) {
  std::vector<std::string> seeds = LoadCorpus();
  ASSERT_GE(seeds.size(), 3u) << "seed corpus " << QVD_FUZZ_CORPUS;
  for (const std::string& s : seeds) Feed(s);
  Feed("");
}

TEST(FuzzReplay, DeterministicMutationsOfTheSeeds) {
  std::vector<std::string> seeds = LoadCorpus();
  ASSERT_FALSE(seeds.empty());
  // The bytes of the seeds, so that mutations stay close to what the entry
  // understands, plus a few that no seed should need.
  std::string alphabet = std::string("\0\n\r\t\xff\x80", 6);
  for (const std::string& s : seeds) alphabet += s;
  std::mt19937 rng(20261207);
  auto pick = [&](size_t n) { return static_cast<size_t>(rng() % n); };
  for (int i = 0; i < 1500; ++i) {
    std::string input = seeds[pick(seeds.size())];
    int edits = 1 + static_cast<int>(pick(8));
    for (int k = 0; k < edits; ++k) {
      size_t at = input.empty() ? 0 : pick(input.size() + 1);
      switch (pick(5)) {
        case 0: input.insert(at, 1, alphabet[pick(alphabet.size())]); break;
        case 1: if (at < input.size()) input.erase(at, 1 + pick(16)); break;
        case 2: if (at < input.size()) input[at] = static_cast<char>(rng()); break;
        case 3: if (at < input.size()) input[at] = alphabet[pick(alphabet.size())]; break;
        default: {
          const std::string& other = seeds[pick(seeds.size())];
          size_t from = pick(other.size() + 1);
          input.insert(at, other, from, pick(other.size() - from + 1));
          break;
        }
      }
    }
    Feed(input);
  }
}

TEST(FuzzReplay, LongRepetitionsOfTheSeeds) {
  for (const std::string& s : LoadCorpus()) {
    if (s.empty()) continue;
    std::string input;
    while (input.size() < 64 * 1024) input += s;
    Feed(input);
  }
}

}  // namespace

int main(int argc, char** argv) {
  setenv("QVD_SOURCE_DIR", QVD_TEST_SOURCE_DIR, 0);
  setenv("QVD_BIN_DIR", QVD_TEST_BIN_DIR, 0);
  ::testing::InitGoogleTest(&argc, argv);
  if (LLVMFuzzerInitialize != nullptr) LLVMFuzzerInitialize(&argc, &argv);
  return RUN_ALL_TESTS();
}
