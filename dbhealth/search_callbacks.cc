#include "dbhealth/search_callbacks.h"

#include <cstdint>
#include <cstring>
#include <string>

#include "framework/trace.h"
#include "serverapi/qvd_api.h"

QVD_TRACE_UNIT("dbhealth/search");

namespace {

constexpr char kPathItem[] = "$Path";
constexpr size_t kMaxPathLength = 255;

uint16_t read16(const unsigned char* p) {
  uint16_t v;
  memcpy(&v, p, sizeof v);
  return v;
}

}  // namespace

VxStatus fileAction(void* context, const VxSearchMatch* match, const void* summary) {
  if (match == nullptr || (match->Flags & VX_SE_FMATCH) == 0) return 0;
  return getDatabaseList(summary, static_cast<QVD::StringList*>(context));
}

VxStatus getDatabaseList(const void* summary, QVD::StringList* list) {
  if (summary == nullptr || list == nullptr) return 0;
  const auto* table = static_cast<const unsigned char*>(summary);
  const size_t total = read16(table);
  const size_t items = read16(table + 2);
  // The length pairs follow the 4-byte head; names and values follow them.
  size_t data = 4 + 4 * items;
  if (data > total) {
    QVD_ERROR("Summary of a database holds %u items in %u bytes; it is ignored.", (unsigned)items,
              (unsigned)total);
    return 0;
  }
  for (size_t i = 0; i < items; ++i) {
    size_t nameLength = read16(table + 4 + 4 * i);
    size_t valueLength = read16(table + 6 + 4 * i);
    if (data + nameLength + valueLength > total) {
      QVD_ERROR("Summary of a database is longer than its %u bytes at item %u; it is ignored.",
                (unsigned)total, (unsigned)i + 1);
      return 0;
    }
    const unsigned char* name = table + data;
    const unsigned char* value = name + nameLength;
    data += nameLength + valueLength;
    if (nameLength != sizeof kPathItem - 1 || memcmp(name, kPathItem, nameLength) != 0) continue;
    if (valueLength < 2) return 0;  // no data type: no path
    std::string path(reinterpret_cast<const char*>(value) + 2, valueLength - 2);
    if (path.size() > kMaxPathLength || path.find('\0') != std::string::npos) {
      QVD_ERROR("Database path %.255s... of %u bytes is not usable; the database is not checked.",
                path.c_str(), (unsigned)path.size());
      return 0;
    }
    if (!path.empty() && !list->contains(path.c_str())) list->add(path.c_str());
    return 0;
  }
  return 0;
}

VxStatus getViewName(void* context, const VxSearchMatch* match, const void*) {
  auto* ctx = static_cast<DbViewList*>(context);
  if (ctx == nullptr || match == nullptr || ctx->views == nullptr) return 0;
  VxDocHandle doc = 0;
  VxStatus status = QVD_VxDocOpen(ctx->db, match->NoteId, 0, &doc);
  if (status != 0) return status;
  uint16_t type = 0;
  VxValueRef value{nullptr, 0};
  uint32_t length = 0;
  status = QVD_VxItemInfo(doc, "$TITLE", 6, nullptr, &type, &value, &length);
  if (status == 0 && value.Value != nullptr && length >= 2) {
    std::string title(static_cast<const char*>(value.Value) + 2, length - 2);
    title = title.substr(0, title.find('\0'));
    if (ctx->titleOnly) title = title.substr(0, title.find('|'));
    ctx->views->add(title.c_str());
  }
  QVD_VxDocClose(doc);
  return status;
}
