// Message texts of the simulated server, by status code (status AND 0x3FFF).
#ifndef QVD_SIM_MESSAGES_H_
#define QVD_SIM_MESSAGES_H_

#include <string>

namespace vaxelsim {

// The built-in text of `code`, or "Unknown server error (code N)".
std::string MessageText(unsigned code);

}  // namespace vaxelsim

#endif  // QVD_SIM_MESSAGES_H_
