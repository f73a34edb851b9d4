// Replays the parser's fuzz entry over its seed corpus and over a few
// thousand deterministic random and mutated inputs.  Passing means no crash,
// no leak and no undefined behaviour (run it under the sanitizer presets).
#include <dirent.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

std::string CorpusDir() {
  const char* src = std::getenv("QVD_SOURCE_DIR");
  std::string base = src != nullptr ? src : std::string(__FILE__).substr(0, std::string(__FILE__).rfind("/agentlink/"));
  return base + "/agentlink/fuzz/corpus";
}

std::vector<std::string> LoadCorpus() {
  std::vector<std::string> seeds;
  std::string dir = CorpusDir();
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) return seeds;
  while (dirent* e = readdir(d)) {
    if (e->d_name[0] == '.') continue;
    std::ifstream in(dir + "/" + e->d_name, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    seeds.push_back(ss.str());
  }
  closedir(d);
  return seeds;
}

void Feed(const std::string& input) {
  LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(input.data()), input.size());
}

TEST(ParserFuzzReplay, SeedCorpus) {
  std::vector<std::string> seeds = LoadCorpus();
  ASSERT_GE(seeds.size(), 10u) << CorpusDir();
  for (const auto& s : seeds) Feed(s);
}

TEST(ParserFuzzReplay, DeterministicRandomAndMutatedInputs) {
  std::vector<std::string> seeds = LoadCorpus();
  ASSERT_FALSE(seeds.empty());
  std::mt19937 rng(20261207);
  // Bytes that matter to the parser, plus a few arbitrary ones.
  const std::string alphabet = std::string("<>/=\"&;#x? !-ab\n\t", 17) + std::string(1, '\0') + "\xff\x80" +
                               "dataRequest attrGroup requestInfo lt amp";
  auto pick = [&](size_t n) { return static_cast<size_t>(rng() % n); };
  for (int i = 0; i < 3000; ++i) {
    std::string input;
    if (i % 2 == 0) {
      size_t len = pick(200);
      for (size_t k = 0; k < len; ++k) input += alphabet[pick(alphabet.size())];
    } else {
      input = seeds[pick(seeds.size())];
      int edits = 1 + static_cast<int>(pick(8));
      for (int k = 0; k < edits; ++k) {
        size_t at = input.empty() ? 0 : pick(input.size() + 1);
        switch (pick(4)) {
          case 0: input.insert(at, 1, alphabet[pick(alphabet.size())]); break;
          case 1: if (at < input.size()) input.erase(at, 1 + pick(5)); break;
          case 2: if (at < input.size()) input[at] = static_cast<char>(rng()); break;
          default: input.insert(at, seeds[pick(seeds.size())]); break;
        }
      }
    }
    Feed(input);
  }
  // Long runs that would expose quadratic or unbounded work.
  Feed(std::string(100000, '&') + ";");
  Feed(std::string(50000, '<'));
  std::string deep;
  for (int k = 0; k < 20000; ++k) deep += "<a>";
  Feed(deep);
}

}  // namespace
