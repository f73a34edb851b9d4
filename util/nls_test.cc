#include "util/nls.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "sim/vaxel_sim.h"

namespace {

using Bytes = std::vector<unsigned char>;

Bytes SjisToEuc(Bytes in) {
  Bytes out(in.size() * 2 + 1, 0xEE);
  int n = sjis2euc(in.data(), out.data(), static_cast<int>(in.size()));
  out.resize(static_cast<size_t>(n));
  return out;
}

Bytes EucToSjis(Bytes in) {
  Bytes out(in.size() + 1, 0xEE);
  int n = euc2sjis(in.data(), out.data(), static_cast<int>(in.size()));
  out.resize(static_cast<size_t>(n));
  return out;
}

// Sets LANG for one test and restores it afterwards.
class ScopedLang {
 public:
  explicit ScopedLang(const char* value) {
    const char* old = getenv("LANG");
    had_ = old != nullptr;
    if (had_) old_ = old;
    if (value != nullptr)
      setenv("LANG", value, 1);
    else
      unsetenv("LANG");
  }
  ~ScopedLang() {
    if (had_)
      setenv("LANG", old_.c_str(), 1);
    else
      unsetenv("LANG");
  }

 private:
  bool had_ = false;
  std::string old_;
};

// Records the simulated server's calls for one test: the input length of
// every VxTranslate call, in order.
class TranslateLog {
 public:
  TranslateLog() {
    char name[] = "/tmp/qvd_nls_log_XXXXXX";
    int fd = mkstemp(name);
    if (fd >= 0) close(fd);
    path_ = name;
    setenv("VAXEL_SIM_LOG", name, 1);
    vaxelsim_reset();
  }
  ~TranslateLog() {
    unsetenv("VAXEL_SIM_LOG");
    vaxelsim_reset();
    unlink(path_.c_str());
  }
  std::vector<unsigned long> Lengths() const {
    std::vector<unsigned long> lengths;
    std::ifstream in(path_);
    std::string line;
    while (std::getline(in, line)) {
      if (line.rfind("VxTranslate ", 0) != 0) continue;
      size_t at = line.find(" length=");
      if (at != std::string::npos) lengths.push_back(std::stoul(line.substr(at + 8)));
    }
    return lengths;
  }

 private:
  std::string path_;
};

std::string Pattern(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; i++) s[i] = static_cast<char>('a' + i % 26);
  return s;
}

std::string Str(std::initializer_list<unsigned char> bytes) {
  return std::string(bytes.begin(), bytes.end());
}

// Translates `text` into a buffer of outSize bytes followed by a guard area
// that must stay untouched.
std::string Translate(unsigned short mode, std::string text, unsigned long outSize) {
  std::vector<char> out(outSize + 64, '#');
  unsigned long n = NLS_VxTranslate(mode, &text[0], text.size(), out.data(), outSize);
  EXPECT_LE(n, outSize);
  for (size_t i = outSize; i < out.size(); i++) {
    EXPECT_EQ('#', out[i]) << "written past the buffer at " << i;
    if (out[i] != '#') break;
  }
  return std::string(out.data(), n);
}

}  // namespace

TEST(JapaneseCodes, PairsConvertBothWays) {
  // First row of kanji.
  EXPECT_EQ((Bytes{0xB0, 0xA1}), SjisToEuc({0x88, 0x9F}));
  EXPECT_EQ((Bytes{0x88, 0x9F}), EucToSjis({0xB0, 0xA1}));
  // A first byte from 0xE0 on starts a pair, it is not katakana.
  EXPECT_EQ((Bytes{0xDF, 0xA1}), SjisToEuc({0xE0, 0x40}));
  EXPECT_EQ((Bytes{0xE0, 0x40}), EucToSjis({0xDF, 0xA1}));
  // Half-width katakana gains and loses the 0x8E prefix.
  EXPECT_EQ((Bytes{0x8E, 0xB1}), SjisToEuc({0xB1}));
  EXPECT_EQ((Bytes{0xB1}), EucToSjis({0x8E, 0xB1}));
  // Mixed with ASCII.
  EXPECT_EQ((Bytes{'a', 0xB0, 0xA1, 'b', 0x8E, 0xDF, 'c'}),
            SjisToEuc({'a', 0x88, 0x9F, 'b', 0xDF, 'c'}));
}

TEST(JapaneseCodes, EveryJisCharacterSurvivesTheRoundTrip) {
  // The two formulas are each other's inverse over the whole JIS X 0208
  // plane (rows and cells 0x21..0x7E).
  for (int j1 = 0x21; j1 <= 0x7E; j1++) {
    for (int j2 = 0x21; j2 <= 0x7E; j2++) {
      Bytes euc{static_cast<unsigned char>(j1 | 0x80), static_cast<unsigned char>(j2 | 0x80)};
      Bytes sjis = EucToSjis(euc);
      ASSERT_EQ(2u, sjis.size());
      // A Shift_JIS first byte is never ASCII or katakana.
      ASSERT_TRUE((sjis[0] >= 0x81 && sjis[0] <= 0x9F) || (sjis[0] >= 0xE0 && sjis[0] <= 0xEF))
          << std::hex << j1 << " " << j2;
      ASSERT_EQ(euc, SjisToEuc(sjis)) << std::hex << j1 << " " << j2;
    }
  }
}

TEST(JapaneseCodes, ControlBytesAndTruncatedPairs) {
  // Carriage return and end-of-file bytes of server text become blanks.
  EXPECT_EQ((Bytes{'a', ' ', '\n', 'b', ' '}), SjisToEuc({'a', 0x0D, '\n', 'b', 0x1A}));
  // Other ASCII, the terminator included, is copied.
  EXPECT_EQ((Bytes{'\t', 0x00, 0x7F}), SjisToEuc({'\t', 0x00, 0x7F}));
  EXPECT_EQ((Bytes{'\r', 0x1A}), EucToSjis({'\r', 0x1A}));
  // A pair cut off by the end of the input is dropped.
  EXPECT_EQ((Bytes{'x'}), SjisToEuc({'x', 0x88}));
  EXPECT_EQ((Bytes{'x'}), EucToSjis({'x', 0xB0}));
  EXPECT_EQ((Bytes{'x'}), EucToSjis({'x', 0x8E}));
  // No input, no output.
  EXPECT_EQ(0, sjis2euc(nullptr, nullptr, 0));
  EXPECT_EQ(0, euc2sjis(nullptr, nullptr, -1));
}

TEST(JapaneseLocale, RecognisesTheEucNames) {
  for (const char* name : {"ja", "japanese", "ja_JP", "ja_JP.eucjp", "ja_JP.eucJP", "ja_JP.EUC-JP",
                           "ja_JP.IBM-eucJP"}) {
    ScopedLang lang(name);
    EXPECT_EQ(1, IsEUCJP()) << name;
  }
  for (const char* name :
       {"", "C", "en_US.UTF-8", "ja_JP.UTF-8", "ja_JP.SJIS", "JA", "ja_JP.eucJP2"}) {
    ScopedLang lang(name);
    EXPECT_EQ(0, IsEUCJP()) << name;
  }
  ScopedLang unset(nullptr);
  EXPECT_EQ(0, IsEUCJP());
}

TEST(Translate, EmptyInputGivesEmptyText) {
  ScopedLang lang("C");
  TranslateLog log;
  char in[] = "\0abc";
  char out[8] = "xxxxxxx";
  EXPECT_EQ(0u, NLS_VxTranslate(NLS_SERVER_TO_HOST, in, 4, out, sizeof out));
  EXPECT_EQ('\0', out[0]);
  out[0] = 'x';
  EXPECT_EQ(0u, NLS_VxTranslate(NLS_SERVER_TO_HOST, in + 1, 0, out, sizeof out));
  EXPECT_EQ('\0', out[0]);
  // Nothing to write into: nothing is written.
  EXPECT_EQ(0u, NLS_VxTranslate(NLS_SERVER_TO_HOST, in, 0, nullptr, 0));
  EXPECT_TRUE(log.Lengths().empty());
}

TEST(Translate, LongTextGoesInChunks) {
  ScopedLang lang("en_US.UTF-8");
  {
    TranslateLog log;
    std::string text = Pattern(100);
    EXPECT_EQ(text, Translate(NLS_HOST_TO_SERVER, text, 301));
    EXPECT_EQ((std::vector<unsigned long>{100}), log.Lengths());
  }
  {
    TranslateLog log;
    std::string text = Pattern(40000);
    EXPECT_EQ(text, Translate(NLS_SERVER_TO_HOST, text, 3 * 40000 + 1));
    EXPECT_EQ((std::vector<unsigned long>{16384, 16384, 7232}), log.Lengths());
  }
  {
    TranslateLog log;
    std::string text = Pattern(16384);
    EXPECT_EQ(text, Translate(NLS_SERVER_TO_HOST, text, 3 * 16384 + 1));
    EXPECT_EQ((std::vector<unsigned long>{16384}), log.Lengths());
  }
  {
    // The Japanese step does not change how the server is called.
    ScopedLang japanese("ja_JP.eucJP");
    TranslateLog log;
    std::string text = Pattern(40000);
    EXPECT_EQ(text, Translate(NLS_SERVER_TO_HOST, text, 3 * 40000 + 1));
    EXPECT_EQ((std::vector<unsigned long>{16384, 16384, 7232}), log.Lengths());
  }
}

TEST(Translate, NeverWritesPastTheBuffer) {
  ScopedLang lang("C");
  std::string text = Pattern(40000);
  // Chunks beyond the buffer are cut off.
  EXPECT_EQ(text.substr(0, 20000), Translate(NLS_SERVER_TO_HOST, text, 20000));
  // One call: the buffer's size reaches the server whole, or as the largest
  // size it can take; it does not wrap around to a small number.
  std::string small = Pattern(100);
  EXPECT_EQ(small, Translate(NLS_SERVER_TO_HOST, small, 65536));
  EXPECT_EQ(small, Translate(NLS_SERVER_TO_HOST, small, 70000));
  EXPECT_EQ(small.substr(0, 50), Translate(NLS_SERVER_TO_HOST, small, 50));
  // Japanese text too long for the buffer stops before a character that
  // does not fit: three katakana take six bytes of EUC.
  ScopedLang japanese("ja");
  std::string katakana(10, static_cast<char>(0xB1));
  EXPECT_EQ(Str({0x8E, 0xB1, 0x8E, 0xB1, 0x8E, 0xB1}), Translate(NLS_SERVER_TO_HOST, katakana, 7));
}

TEST(Translate, JapaneseLocaleConvertsOnTheHostSide) {
  ScopedLang lang("ja_JP.eucJP");
  // Server text (Shift_JIS) reaches the host as EUC-JP, carriage returns as
  // blanks.
  std::string server = "a\r\nb" + Str({0x88, 0x9F, 0xB1, 0xE0, 0x40});
  EXPECT_EQ("a \nb" + Str({0xB0, 0xA1, 0x8E, 0xB1, 0xDF, 0xA1}),
            Translate(NLS_SERVER_TO_HOST, server, 3 * server.size() + 1));
  // Host text goes to the server as Shift_JIS.
  std::string host = Str({0xB0, 0xA1, 0x8E, 0xB1}) + "x\r";
  EXPECT_EQ(Str({0x88, 0x9F, 0xB1}) + "x\r",
            Translate(NLS_HOST_TO_SERVER, host, 3 * host.size() + 1));
  // Other modes pass through without the Japanese step.
  EXPECT_EQ("a\r\nb", Translate(2, "a\r\nb", 16));
  // Outside a Japanese locale the text is the server's business alone.
  ScopedLang english("en_US");
  EXPECT_EQ(server, Translate(NLS_SERVER_TO_HOST, server, 3 * server.size() + 1));
}

TEST(Translate, WorkBufferThatCannotBeHadGivesEmptyText) {
  ScopedLang lang("ja");
  TranslateLog log;
  // A length whose work buffer (four times as large) cannot be allocated;
  // only the first byte is ever read.
  char in[] = "x";
  char out[4] = "zzz";
  EXPECT_EQ(0u, NLS_VxTranslate(NLS_SERVER_TO_HOST, in, ULONG_MAX / 2, out, sizeof out));
  EXPECT_EQ('\0', out[0]);
  EXPECT_EQ(0u, NLS_VxTranslate(NLS_HOST_TO_SERVER, in, ULONG_MAX / 2, out, sizeof out));
  EXPECT_TRUE(log.Lengths().empty());
}

TEST(Translate, ThreadsTranslateIndependently) {
  ScopedLang lang("ja_JP.eucJP");
  std::string server = Pattern(20000) + Str({0x88, 0x9F, 0xB1, 0x0D});
  std::string host = Pattern(20000) + Str({0xB0, 0xA1, 0x8E, 0xB1, 0x20});
  std::vector<std::thread> threads;
  std::vector<std::string> results(4);
  for (size_t t = 0; t < results.size(); t++) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 5; i++)
        results[t] = Translate(NLS_SERVER_TO_HOST, server, 3 * server.size() + 1);
    });
  }
  for (std::thread& t : threads) t.join();
  for (const std::string& r : results) EXPECT_EQ(host, r);
}
