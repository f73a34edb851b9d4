#include "replication/schedule_reader.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "framework/trace.h"
#include "replication/text_utils.h"
#include "serverapi/qvd_api.h"

QVD_TRACE_UNIT("replication/schedule");

int ReadFieldBody(VxDocHandle document, const char* itemName, char** text) {
  *text = nullptr;
  uint32_t item = 0;
  uint16_t type = 0;
  VxValueRef value = {nullptr, 0};
  uint32_t valueLength = 0;
  VxStatus rc = QVD_VxItemInfo(document, itemName, static_cast<uint16_t>(strlen(itemName)), &item,
                               &type, &value, &valueLength);
  if (rc != 0) {
    // Every error is traced, an absent item (546) too: callers that give
    // such an item a default say so on their own line.
    QVD_ERROR("VxItemInfo() error:%lu", (unsigned long)rc);
    return rc;
  }
  size_t size = valueLength;
  if (type == VX_TYPE_NUMBER || type == VX_TYPE_TIME) size = 50;
  if (type == VX_TYPE_NUMBER_RANGE || type == VX_TYPE_TIME_RANGE) size = 2000;
  size += 1;
  if (type == VX_TYPE_TEXT) {
    size_t outSize = 3 * size + 1;
    char* out = static_cast<char*>(malloc(outSize));
    if (out == nullptr) return 1;
    get_text_field(value.Value, valueLength, out, outSize);
    *text = out;
    return 0;
  }
  if (size > 0xFFFF) size = 0xFFFF;
  std::unique_ptr<char[]> rendered(new (std::nothrow) char[size]);
  if (!rendered) return 1;
  uint16_t n = QVD_VxItemValueToText(type, value, valueLength, rendered.get(),
                                     static_cast<uint16_t>(size), ';');
  if (n >= size) n = static_cast<uint16_t>(size - 1);
  size_t outSize = 3 * static_cast<size_t>(n) + 1;
  char* out = static_cast<char*>(malloc(outSize));
  if (out == nullptr) return 1;
  unsigned long converted = toHostText(rendered.get(), n, out, outSize - 1);
  out[converted] = '\0';
  *text = out;
  return 0;
}

namespace {

// Closes what the reader opened, whatever the outcome.
struct Opened {
  VxDbHandle db = 0;
  VxCollectionHandle collection = 0;
  VxMemHandle buffer = 0;
  ~Opened() {
    if (buffer != 0) {
      QVD_VxUnlockObject(buffer);
      QVD_VxMemFree(buffer);
    }
    if (collection != 0) QVD_VxViewClose(collection);
    if (db != 0) QVD_VxDbClose(db);
  }
};

// Reads an item that has no default.  Returns 0, or the status (absent
// items traced as a skip of the document).
int required(VxDocHandle doc, uint32_t noteId, const char* name, char** text) {
  int rc = ReadFieldBody(doc, name, text);
  if (rc == VX_ERR_ITEM_NOT_FOUND)
    QVD_ERROR("Replication connection note 0x%x has no %s item; connection skipped", noteId, name);
  return rc;
}

// Reads an item whose absence gives an empty text.
int optional(VxDocHandle doc, const char* name, char** text) {
  int rc = ReadFieldBody(doc, name, text);
  if (rc == VX_ERR_ITEM_NOT_FOUND) {
    *text = strdup("");
    return *text == nullptr ? 1 : 0;
  }
  return rc;
}

bool isWeekdayList(const char* text) {
  for (const char* p = text; *p != '\0'; ++p)
    if (!((*p >= '1' && *p <= '7') || *p == ';' || *p == ',' || *p == ' ')) return false;
  return true;
}

// Reads one connection document into `out`.  Returns 0 with *use telling
// whether it is an enabled connection of this server; 546 for a document
// to skip; another status stops the reading.
int readConnection(VxDocHandle doc, uint32_t noteId, const _ServerInfoBlock* serverInfo,
                   replschedule* out, bool* use) {
  *use = false;
  char* text = nullptr;
  std::unique_ptr<char, void (*)(void*)> hold(nullptr, free);
  auto take = [&](int rc) {
    hold.reset(text);
    return rc;
  };
  int rc = take(required(doc, noteId, "Source", &text));
  if (rc != 0) return rc;
  if (strlowcmp(text, serverInfo->serverNameCanonical) != 0) {
    QVD_DETAIL("The src_svr does not match this server src_svr=|%s| ThisServer=|%s|", text,
               serverInfo->serverNameCanonical);
    return 0;
  }
  uint16_t length = 0;
  if (QVD_VxNameAbbreviate(0, nullptr, text, out->src_svr, sizeof out->src_svr, &length) != 0)
    copyField(out->src_svr, sizeof out->src_svr, text);
  rc = take(required(doc, noteId, "Destination", &text));
  if (rc != 0) return rc;
  if (QVD_VxNameAbbreviate(0, nullptr, text, out->dest_svr, sizeof out->dest_svr, &length) != 0 &&
      !copyField(out->dest_svr, sizeof out->dest_svr, text))
    QVD_ERROR("Destination of note 0x%x longer than 255 characters cut: |%s|", noteId, out->dest_svr);
  rc = take(required(doc, noteId, "Enabled", &text));
  if (rc != 0) return rc;
  if (atof(text) == 0) {
    QVD_DETAIL("Replication schedule is DISABLED");
    return 0;
  }
  rc = take(required(doc, noteId, "RepTask", &text));
  if (rc != 0) return rc;
  if (atof(text) == 0) {
    QVD_DETAIL("Replication task is DISABLED");
    return 0;
  }
  rc = take(optional(doc, "Filenames", &text));
  if (rc != 0) return rc;
  copyField(out->filenames, sizeof out->filenames, text);
  rc = take(optional(doc, "Schedule", &text));
  if (rc != 0) return rc;
  out->schedule = strdup(text);
  if (out->schedule == nullptr) return 1;
  rc = take(optional(doc, "WeekDays", &text));
  if (rc == 0) {
    if (!copyField(out->weekdays, sizeof out->weekdays, text))
      QVD_ERROR("WeekDays of note 0x%x longer than 255 characters cut", noteId);
    if (!isWeekdayList(out->weekdays))
      QVD_ERROR("WeekDays of note 0x%x hold entries that are not weekday numbers 1 to 7: |%s|",
                noteId, out->weekdays);
    rc = take(ReadFieldBody(doc, "Interval", &text));
    if (rc == VX_ERR_ITEM_NOT_FOUND) {
      rc = 0;
    } else if (rc == 0) {
      double minutes = atof(text);
      if (minutes < -2147483648.0 || minutes > 2147483647.0) minutes = -1;
      out->interval = static_cast<int32_t>(minutes);
    }
  }
  if (rc != 0) {
    free(out->schedule);
    out->schedule = nullptr;
    return rc;
  }
  *use = true;
  return 0;
}

}  // namespace

int get_replication_schedule(replschedule** schedules, const char* databasePath,
                             const _ServerInfoBlock* serverInfo, ReplStop* stop) {
  Opened opened;
  VxStatus rc = QVD_VxDbOpenExtended(databasePath, VX_DBOPEN_MODIFIED_SINCE, 0, nullptr,
                                     &opened.db, nullptr, nullptr);
  if (rc != 0) {
    char message[201] = "";
    QVD_VxLoadString(0, rc & 0x3FFF, message, sizeof message);
    QVD_ERROR("VxDbOpenExtended() error: %lu", (unsigned long)rc);
    QVD_ERROR("Could not open names.vdb");
    QVD_ERROR("VxDbOpenExtended() error: %s", message);
    opened.db = 0;
    return rc;
  }
  uint32_t viewId = 0;
  rc = QVD_VxFindDesignNote(opened.db, "$Connections", VX_NOTE_CLASS_VIEW, "-G40n", &viewId, 0);
  if (rc != 0) {
    QVD_ERROR("get_replication_schedule(VxFindView) error: %lu", (unsigned long)rc);
    return rc;
  }
  rc = QVD_VxViewOpen(opened.db, opened.db, viewId, 0, 0, &opened.collection, nullptr, nullptr,
                      nullptr, nullptr);
  if (rc != 0) {
    QVD_ERROR("get_replication_schedule(VxViewOpen) error: %lu", (unsigned long)rc);
    opened.collection = 0;
    return rc;
  }
  QVD_DETAIL("Found collection");
  uint32_t bufferLength = 0, count = 0;
  uint16_t signal = 0;
  rc = QVD_VxViewReadEntries(opened.collection, 1, 0xFFFFFFFFu, VX_READ_MASK_NOTEID,
                             &opened.buffer, &bufferLength, &count, &signal);
  if (rc != 0) {
    QVD_ERROR("VxViewReadEntries error:%lu", (unsigned long)rc);
    return rc;
  }
  QVD_DETAIL("Read the entires");
  if (opened.buffer == 0) {
    QVD_ERROR("hBuffer is null");
    return VX_ERR_NO_MORE_ENTRIES;
  }
  const char* ids = static_cast<const char*>(QVD_VxLockObject(opened.buffer));
  if (ids == nullptr || count == 0) {
    QVD_ERROR("hBuffer is null");
    return VX_ERR_NO_MORE_ENTRIES;
  }
  if (static_cast<uint64_t>(count) * 4 > bufferLength) count = bufferLength / 4;
  int result = 0;
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t noteId;
    memcpy(&noteId, ids + 4 * static_cast<size_t>(i), 4);
    if (replStopRequested(stop) || QVD_VxShouldTerminate() != 0) {
      result = 1;
      break;
    }
    QVD_DETAIL("opening note number %ld\n", (long)noteId);
    VxDocHandle doc = 0;
    rc = QVD_VxDocOpen(opened.db, noteId, 0, &doc);
    if (rc == VX_ERR_INVALID_NOTE) {
      QVD_ERROR("Found invalid note: = will continue with the rest of notes");
      continue;
    }
    if (rc != 0) {
      QVD_ERROR("get_replication_schedule(VxDocOpen) error: %lu", (unsigned long)rc);
      result = rc;
      break;
    }
    replschedule schedule = {};
    bool use = false;
    int read = readConnection(doc, noteId, serverInfo, &schedule, &use);
    if (read == 0 && use) {
      *schedules = add_replSched_list(*schedules, &schedule);
    }
    free(schedule.schedule);
    QVD_VxDocClose(doc);
    if (read != 0 && read != VX_ERR_ITEM_NOT_FOUND) {
      result = read;
      break;
    }
  }
  return result;
}
