#include "dbhealth/delete_spaces.h"

int deleteSpaces(char* text) {
  if (text == nullptr) return 1;
  // Compacting in place needs no temporary copy, so no allocation can fail.
  char* out = text;
  for (const char* in = text; *in != '\0'; ++in) {
    if (*in == ' ' || *in == '\t' || *in == '\n') continue;
    *out++ = *in;
  }
  *out = '\0';
  return 0;
}
