// National language support: conversion of text between the server API's
// character set and the host's.
//
// NLS_VxTranslate converts with the server API's VxTranslate, at most 16384
// input bytes per call.  When the host runs a Japanese EUC locale, it adds
// the step between EUC-JP (the host's form) and Shift_JIS (the form the API
// uses for Japanese) on the host side of the call.
//
// Thread-safety: stateless apart from reading LANG at every call; callable
// from any thread.
#ifndef QVD_UTIL_NLS_H_
#define QVD_UTIL_NLS_H_

// Translation modes, passed through to VxTranslate.  Other values are passed
// on unchanged, without the Japanese step.
enum : unsigned short {
  NLS_HOST_TO_SERVER = 0,
  NLS_SERVER_TO_HOST = 1,
};

// Converts inLen bytes of `in` into `out` (outSize bytes) and returns the
// length of the converted text.  The text is not terminated, except that
// empty input (inLen 0 or a first byte of 0) leaves out[0] = 0 and returns
// 0.  The result never exceeds outSize: text that does not fit is cut (at a
// character boundary in the EUC step) with an error trace line.  Returns 0
// and leaves an empty text when a work buffer cannot be allocated.
// REQUIRES: callers size `out` generously (three times inLen plus one).
unsigned long NLS_VxTranslate(unsigned short mode, char* in, unsigned long inLen, char* out,
                              unsigned long outSize);

// The chunking call of VxTranslate without the Japanese step: below 16384
// bytes one call; otherwise one call per 16384 bytes through a 65535-byte
// intermediate buffer, the pieces appended to `out`.  Returns the length
// written, at most outSize (the rest is cut, with an error trace line); 0
// when the intermediate buffer cannot be allocated.
unsigned long DO_VxTranslate(unsigned short mode, char* in, unsigned long inLen, char* out,
                             unsigned long outSize);

// 1 when LANG names a Japanese EUC locale: "ja", "japanese", "ja_JP",
// "ja_JP.eucjp", "ja_JP.eucJP", "ja_JP.EUC-JP" or "ja_JP.IBM-eucJP"; else 0.
int IsEUCJP();

// Converts len bytes of Shift_JIS to EUC-JP and returns the output length.
// Carriage return and 0x1A become blanks; half-width katakana gains the 0x8E
// prefix; a pair cut off by the end of the input is dropped.
// REQUIRES: `out` holds 2 * len bytes.
int sjis2euc(unsigned char* in, unsigned char* out, int len);

// Converts len bytes of EUC-JP to Shift_JIS and returns the output length
// (never more than len).  0x8E drops from half-width katakana; three-byte
// sequences (0x8F) are not supported; a cut-off pair is dropped.
int euc2sjis(unsigned char* in, unsigned char* out, int len);

#endif  // QVD_UTIL_NLS_H_
