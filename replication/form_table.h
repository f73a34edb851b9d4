// The forms of the event log database: nickname, form name, log id and the
// items that carry its lines, and the selection formula built from a
// request's forms.
//
// Thread-safety: FormTable's `active` column is changed by every request
// that names forms, so requests run on one thread at a time (the collector
// issues them from the main thread only).
#ifndef QVD_REPLICATION_FORM_TABLE_H_
#define QVD_REPLICATION_FORM_TABLE_H_

#include <cstdint>

#include "replication/log_request.h"

struct _formtable {
  int32_t active;  // 1 when the last request with forms named this form
  char nickName[32];
  char formName[132];
  char logId[132];
  char fieldSlots[3][132];
};

constexpr int kFormTableRows = 12;
extern _formtable FormTable[kFormTableRows];

// Lower-cases `nickname` in place, strips double quotes at both ends and
// returns the one row whose nickName, or whose formName ignoring case,
// starts with it; -1 for none or several (an empty nickname matches every
// row).  So "repl" finds replication, "phone call - i" the incoming calls,
// and "p" is ambiguous.
int FindNickName(_formtable* table, char* nickname);

// The row whose formName equals `formName` exactly, or -1.
int FindFormName(const _formtable* table, const char* formName);

// Compiles `SELECT FORM = "A":"B"` from request->forms (trailing ';'
// stripped in place) and marks the named rows active.  Returns the formula
// handle (the caller frees it with QVD_VxMemFree), or 0 for no forms or a
// formula that cannot be built (the search then runs without one).
uint16_t BuildVaxelFormula(_formtable* table, logrequest* request);

#endif  // QVD_REPLICATION_FORM_TABLE_H_
