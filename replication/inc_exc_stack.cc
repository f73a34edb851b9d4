#include "replication/inc_exc_stack.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "framework/trace.h"
#include "replication/text_utils.h"

QVD_TRACE_UNIT("replication/stack");

Stack* NewStack() { return static_cast<Stack*>(calloc(1, sizeof(Stack))); }

int AddStack(const char* text, char function, Stack* stack) {
  StackEntry* entry = static_cast<StackEntry*>(calloc(1, sizeof(StackEntry)));
  if (entry == nullptr) return 1;
  entry->string = strdup(text);
  if (entry->string == nullptr) {
    free(entry);
    return 1;
  }
  entry->function = function;
  if (stack->last == nullptr) {
    stack->first = entry;
  } else {
    stack->last->next = entry;
  }
  stack->last = entry;
  return 0;
}

int AddStackList(const char* list, char function, Stack* stack) {
  const char* p = list;
  while (*p != '\0') {
    const char* end = strchr(p, ';');
    size_t len = end ? static_cast<size_t>(end - p) : strlen(p);
    if (len > 0) {
      std::string part(p, len);
      QVD_DETAIL("pch =|%s|", part.c_str());
      int rc = AddStack(part.c_str(), function, stack);
      if (rc != 0) return rc;
    }
    if (end == nullptr) break;
    p = end + 1;
  }
  return 0;
}

int DiscriminateText(const char* text, const Stack* stack) {
  if (stack == nullptr || stack->first == nullptr) return 0;
  int verdict = 0;
  bool includeMatched = false;
  for (const StackEntry* e = stack->first; e != nullptr; e = e->next) {
    if (lowstrstr(text, e->string) == nullptr) continue;
    if (e->function == '+') {
      QVD_DETAIL("DiscriminateText: INC Found.  s=|%s|  incl->string=|%s|", text, e->string);
      verdict = 0;
      includeMatched = true;
    } else {
      QVD_DETAIL("DiscriminateText: EXCL found.  s=|%s|  incl->string=|%s|", text, e->string);
      verdict = 1;
    }
  }
  if (stack->hasIncludeString == 1 && !includeMatched) {
    QVD_DETAIL("DiscriminateText: hasIncludeString is TRUE but we did not find any include string");
    verdict = 1;
  }
  QVD_DETAIL("DiscriminateText: returning. discriminate = %d ", verdict);
  return verdict;
}

int CleanStack(Stack* stack) {
  if (stack == nullptr) return 0;
  for (StackEntry* e = stack->first; e != nullptr;) {
    StackEntry* next = e->next;
    free(e->string);
    free(e);
    e = next;
  }
  free(stack);
  return 0;
}

void DumpStack(const char* caller, const Stack* stack) {
  if (!QVD_TRACE_ON(TRACE_DETAIL) || stack == nullptr) return;
  QVD_DETAIL("%s: dump of stack Started", caller);
  for (const StackEntry* e = stack->first; e != nullptr; e = e->next)
    QVD_DETAIL("string = |%s|\tfunction=|%c|", e->string, e->function);
  QVD_DETAIL("%s: dump of stack Ended", caller);
}
