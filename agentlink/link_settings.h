// The agent link's own environment variables, read as the link reads them:
// CDP_CPCI_INITIAL_SIZE and CDP_CPCI_SEND_TIMEOUT.  The link reads them when
// it connects (cp_OpenConnection); `qvdclient --check` reads them with the
// same functions, so that it tells what the link will do with a value.
//
// Both are decimal numbers read leniently: leading blanks, an optional sign,
// then the digits up to the first other character (text without digits
// reads as 0; a number beyond the range of long reads as the nearest end of
// it).  A variable that is set but empty counts as not set.
//
// Thread-safety: pure functions.
#ifndef QVD_AGENTLINK_LINK_SETTINGS_H_
#define QVD_AGENTLINK_LINK_SETTINGS_H_

#include <climits>

// CDP_CPCI_INITIAL_SIZE: the initial capacity in bytes of each attribute
// group's answer buffer, which grows as an answer needs.
constexpr int kLinkDefaultInitialSize = 4096;
constexpr int kLinkMinInitialSize = 256;
// The most a buffer of the link can hold (PWX::String): a group whose
// initial size is larger gets no buffer, and each of its answers fails for
// lack of memory (CP_ERR_MEMORY).
constexpr long kLinkMaxBufferSize = INT_MAX - 1;

// CDP_CPCI_SEND_TIMEOUT: seconds a send may wait while the agent takes
// nothing, 1 to 86400.
constexpr long kLinkDefaultSendTimeout = 30;
constexpr long kLinkMaxSendTimeout = 86400;

// The number `text` reads as (above).  REQUIRES: text not null.
long linkNumber(const char* text);

// The initial size the link takes for `text` (null: not set): 4096 when not
// set; otherwise its number, raised to 256 when below and lowered to INT_MAX
// when above.
int linkInitialSize(const char* text);

// The seconds the link takes for `text` (null: not set): 30 when not set;
// its number when 1 to 86400; otherwise 30, and *refused becomes true (the
// link traces the value it refused).
long linkSendTimeout(const char* text, bool* refused);

#endif  // QVD_AGENTLINK_LINK_SETTINGS_H_
