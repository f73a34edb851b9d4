// Code conversion through the server API, with the Japanese EUC step.
#include "util/nls.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

#include "framework/services.h"
#include "framework/trace.h"
#include "serverapi/qvd_api.h"

QVD_TRACE_UNIT("util/nls");

namespace {

// VxTranslate takes at most this many input bytes per call.
constexpr unsigned long kChunkIn = 16384;
// Output room of one chunk: the largest size the API's 16-bit size admits.
constexpr unsigned long kChunkOut = 65535;

// Locale names under which the host's Japanese text is EUC-JP.  Besides the
// classic names: "ja_JP.EUC-JP" is how glibc spells ja_JP.eucJP, and
// "ja_JP.IBM-eucJP" is AIX's name for it.
const char* const kEucJpLocales[] = {
    "ja", "japanese", "ja_JP", "ja_JP.eucjp", "ja_JP.eucJP", "ja_JP.EUC-JP", "ja_JP.IBM-eucJP",
};

// One VxTranslate call.  The API's size is 16 bits wide: a larger buffer is
// offered as 65535 bytes rather than wrapped to a smaller size.  A length
// beyond the size offered is not believed.
unsigned long TranslateOnce(unsigned short mode, char* in, unsigned long len, char* out,
                            unsigned long size) {
  uint16_t size16 = static_cast<uint16_t>(size > 0xFFFF ? 0xFFFF : size);
  unsigned long n = QVD_VxTranslate(mode, in, static_cast<uint16_t>(len), out, size16);
  if (n > size16) {
    QVD_ERROR("VxTranslate returned %lu bytes for a buffer of %u bytes.", n, size16);
    n = size16;
  }
  return n;
}

// Shift_JIS to EUC-JP into at most `cap` bytes; stops before a character
// that does not fit.
size_t SjisToEuc(const unsigned char* in, size_t len, unsigned char* out, size_t cap) {
  size_t o = 0;
  size_t i = 0;
  while (i < len) {
    unsigned c = in[i];
    unsigned char bytes[2];
    size_t produced = 1;
    size_t consumed = 1;
    if (c == 0x0D || c == 0x1A) {
      bytes[0] = 0x20;
    } else if (c < 0x80) {
      bytes[0] = static_cast<unsigned char>(c);
    } else if (c >= 0xA1 && c <= 0xDF) {  // half-width katakana
      bytes[0] = 0x8E;
      bytes[1] = static_cast<unsigned char>(c);
      produced = 2;
    } else {
      if (len - i < 2) break;  // a pair cut off by the end of the text
      int c1 = static_cast<int>(c);
      int c2 = in[i + 1];
      bytes[0] = static_cast<unsigned char>((c1 - (c1 < 0xA0 ? 0x70 : 0xB0)) * 2 -
                                            (c2 < 0x9F ? 1 : 0) + 0x80);
      bytes[1] =
          static_cast<unsigned char>(c2 - (c2 < 0x9F ? (c2 > 0x7F ? 0x20 : 0x1F) : 0x7E) + 0x80);
      produced = 2;
      consumed = 2;
    }
    if (cap - o < produced) {
      QVD_ERROR("Converted text does not fit its buffer of %zu bytes; %zu input bytes dropped.",
                cap, len - i);
      break;
    }
    std::memcpy(out + o, bytes, produced);
    o += produced;
    i += consumed;
  }
  return o;
}

// EUC-JP to Shift_JIS; the output is never longer than the input.
size_t EucToSjis(const unsigned char* in, size_t len, unsigned char* out) {
  size_t o = 0;
  size_t i = 0;
  while (i < len) {
    unsigned c = in[i];
    if (c < 0x80) {
      out[o++] = static_cast<unsigned char>(c);
      i++;
      continue;
    }
    if (len - i < 2) break;  // a pair cut off by the end of the text
    if (c == 0x8E) {         // half-width katakana
      out[o++] = in[i + 1];
      i += 2;
      continue;
    }
    int j1 = static_cast<int>(c) - 0x80;
    int j2 = static_cast<int>(in[i + 1]) - 0x80;
    int first = ((j1 + 1) >> 1) + (j1 < 0x5F ? 0x70 : 0xB0);
    int second = j2 + ((j1 & 1) != 0 ? (j2 < 0x60 ? 0x1F : 0x20) : 0x7E);
    out[o++] = static_cast<unsigned char>(first);
    out[o++] = static_cast<unsigned char>(second);
    i += 2;
  }
  return o;
}

}  // namespace

int IsEUCJP() {
  const char* lang = EnvGet("LANG", 0);
  if (lang == nullptr || *lang == '\0') return 0;
  for (const char* name : kEucJpLocales) {
    if (std::strcmp(lang, name) == 0) return 1;
  }
  return 0;
}

int sjis2euc(unsigned char* in, unsigned char* out, int len) {
  if (len <= 0) return 0;
  return static_cast<int>(SjisToEuc(in, static_cast<size_t>(len), out, SIZE_MAX));
}

int euc2sjis(unsigned char* in, unsigned char* out, int len) {
  if (len <= 0) return 0;
  return static_cast<int>(EucToSjis(in, static_cast<size_t>(len), out));
}

unsigned long DO_VxTranslate(unsigned short mode, char* in, unsigned long inLen, char* out,
                             unsigned long outSize) {
  if (inLen < kChunkIn) return TranslateOnce(mode, in, inLen, out, outSize);

  std::unique_ptr<char[]> chunk(new (std::nothrow) char[kChunkOut]);
  if (!chunk) {
    QVD_ERROR("Cannot allocate %lu bytes to translate text.", kChunkOut);
    return 0;
  }
  unsigned long done = 0;
  unsigned long total = 0;
  while (done < inLen) {
    unsigned long n = inLen - done < kChunkIn ? inLen - done : kChunkIn;
    unsigned long produced = TranslateOnce(mode, in + done, n, chunk.get(), kChunkOut);
    // The pieces are appended without a size from the caller's side of the
    // API, so the room left in `out` is checked here.
    unsigned long room = outSize - total;
    if (produced > room) {
      std::memcpy(out + total, chunk.get(), room);
      total += room;
      QVD_ERROR(
          "Translated text does not fit its buffer of %lu bytes; cut after %lu of %lu input bytes.",
          outSize, done, inLen);
      break;
    }
    std::memcpy(out + total, chunk.get(), produced);
    total += produced;
    done += n;
  }
  return total;
}

unsigned long NLS_VxTranslate(unsigned short mode, char* in, unsigned long inLen, char* out,
                              unsigned long outSize) {
  if (inLen == 0 || in == nullptr || in[0] == '\0') {
    if (out != nullptr && outSize > 0) out[0] = '\0';
    return 0;
  }
  if ((mode != NLS_HOST_TO_SERVER && mode != NLS_SERVER_TO_HOST) || !IsEUCJP())
    return DO_VxTranslate(mode, in, inLen, out, outSize);

  // The EUC step needs a work buffer of four times the input, terminated.
  if (inLen > (SIZE_MAX - 1) / 4) {
    QVD_ERROR("Cannot allocate a work buffer for %lu bytes of Japanese text.", inLen);
    if (outSize > 0) out[0] = '\0';
    return 0;
  }
  size_t workSize = static_cast<size_t>(inLen) * 4;
  std::unique_ptr<unsigned char[]> work(new (std::nothrow) unsigned char[workSize + 1]);
  if (!work) {
    QVD_ERROR("Cannot allocate a work buffer for %lu bytes of Japanese text.", inLen);
    if (outSize > 0) out[0] = '\0';
    return 0;
  }

  unsigned char* text = reinterpret_cast<unsigned char*>(in);
  if (mode == NLS_HOST_TO_SERVER) {
    size_t n = EucToSjis(text, inLen, work.get());
    work[n] = '\0';
    return DO_VxTranslate(mode, reinterpret_cast<char*>(work.get()), n, out, outSize);
  }
  unsigned long n = DO_VxTranslate(mode, in, inLen, reinterpret_cast<char*>(work.get()), workSize);
  work[n] = '\0';
  return SjisToEuc(work.get(), n, reinterpret_cast<unsigned char*>(out), outSize);
}
