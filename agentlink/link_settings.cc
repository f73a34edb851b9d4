#include "agentlink/link_settings.h"

#include <cstdlib>

long linkNumber(const char* text) { return std::strtol(text, nullptr, 10); }

int linkInitialSize(const char* text) {
  if (text == nullptr || text[0] == '\0') return kLinkDefaultInitialSize;
  long size = linkNumber(text);
  if (size < kLinkMinInitialSize) return kLinkMinInitialSize;
  return size > INT_MAX ? INT_MAX : static_cast<int>(size);
}

long linkSendTimeout(const char* text, bool* refused) {
  *refused = false;
  if (text == nullptr || text[0] == '\0') return kLinkDefaultSendTimeout;
  long seconds = linkNumber(text);
  if (seconds >= 1 && seconds <= kLinkMaxSendTimeout) return seconds;
  *refused = true;
  return kLinkDefaultSendTimeout;
}
