// Base XML handler: no-op callbacks and the formatting fault overloads.
#include "agentlink/xml_handler.h"

#include <cstdio>
#include <cstdlib>

#include "framework/trace.h"

QVD_TRACE_UNIT("agentlink/xml_handler");

XMLHandler::~XMLHandler() = default;

void XMLHandler::startElement(const char*, HashMap*) {}
void XMLHandler::endElement(const char*) {}
void XMLHandler::characters(const char*) {}
void XMLHandler::fatalError(const char*) {}

namespace {

// Formats into a fresh heap buffer sized for the result and hands it to the
// handler; the buffer is freed afterwards.  Without memory the bare format
// still reaches the handler, so the fault is never lost.
template <typename... Args>
void FormatAndReport(XMLHandler* handler, const char* format, Args... args) {
  int n = std::snprintf(nullptr, 0, format, args...);
  char* buf = n >= 0 ? static_cast<char*>(std::malloc(static_cast<size_t>(n) + 1)) : nullptr;
  if (buf == nullptr) {
    QVD_ERROR("malloc failed");
    handler->fatalError(format);
    return;
  }
  std::snprintf(buf, static_cast<size_t>(n) + 1, format, args...);
  handler->fatalError(static_cast<const char*>(buf));
  std::free(buf);
}

const char* OrNull(const char* s) { return s != nullptr ? s : "(null)"; }

}  // namespace

void XMLHandler::fatalError(const char* format, const char* a) {
  FormatAndReport(this, format, OrNull(a));
}

void XMLHandler::fatalError(const char* format, const char* a, const char* b) {
  FormatAndReport(this, format, OrNull(a), OrNull(b));
}
