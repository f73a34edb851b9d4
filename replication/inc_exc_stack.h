// The include/exclude list of one log request: which texts a line must
// contain, and which it must not, to be kept.
//
// Ownership: a Stack owns its entries and their texts; CleanStack frees
// them and the stack.  Thread-safety: none; one stack per request.
#ifndef QVD_REPLICATION_INC_EXC_STACK_H_
#define QVD_REPLICATION_INC_EXC_STACK_H_

#include <cstdint>

struct StackEntry {
  char* string;      // owned copy of the text to look for
  char function;     // '+' include, '-' exclude
  StackEntry* next;
};

struct Stack {
  int32_t hasIncludeString;  // 1 when the request named include strings
  int32_t hasExcludeString;  // 1 when it named exclude strings
  StackEntry* first;
  StackEntry* last;
};

// A new empty stack, or null when memory runs out.  Free with CleanStack.
Stack* NewStack();

// Appends an entry for `text` with `function` ('+' or '-').  Returns 0, or
// 1 when memory runs out (the stack is unchanged).
int AddStack(const char* text, char function, Stack* stack);

// Adds each ';'-separated part of `list` with `function`; empty parts are
// passed over.  Returns 0 or the first non-zero result of AddStack.
int AddStackList(const char* list, char function, Stack* stack);

// The verdict on `text`: 0 keep, 1 drop.  Entries are tried in order
// ignoring case; the last matching entry decides (include: keep, exclude:
// drop), and a stack with include strings drops a text that none matches.
// No stack or an empty stack keeps everything.
int DiscriminateText(const char* text, const Stack* stack);

// Frees the entries, their texts and the stack (null is fine).  Returns 0.
int CleanStack(Stack* stack);

// At detail level, lists the entries between "<caller>: dump of stack
// Started" and "... Ended".
void DumpStack(const char* caller, const Stack* stack);

#endif  // QVD_REPLICATION_INC_EXC_STACK_H_
