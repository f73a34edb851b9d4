// Fuzz entry: arbitrary bytes through the agent link's XML parser and the
// request decoder, the way the client sees an incoming message.  Built as a
// libFuzzer target with -DQVD_FUZZ=ON under clang; always replayed over the
// seed corpus parser_corpus/ by the test agentlink_parser_fuzz_replay.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "agentlink/client_request_handler.h"
#include "agentlink/parser.h"

namespace {

// Touches every decoded text so that a dangling or unterminated one shows.
size_t Touch(const char* s) { return s != nullptr ? std::strlen(s) : 0; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<char> text(data, data + size);
  text.push_back('\0');
  std::vector<char> copy = text;

  {
    ClientRequestXMLHandler handler;
    Parser parser(&handler);
    parser.parse(text.data());
    size_t n = Touch(handler.getAttrGroup()) + Touch(handler.getTaskRequest()) + Touch(handler.getTaskRequestUser()) +
               Touch(handler.getId()) + Touch(handler.getRequestStartedID()) + Touch(handler.getSubnode());
    for (const RequestInfo* r = handler.getRequestInfoHead(); r != nullptr; r = r->next) {
      n += Touch(r->name) + Touch(r->value) + Touch(r->op) + Touch(r->logOp);
    }
    (void)n;
  }
  {
    Parser quiet(nullptr);
    quiet.parse(copy.data());
  }
  return 0;
}
