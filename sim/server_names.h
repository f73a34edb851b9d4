// Hierarchical server names of the simulated server.
//
// Canonical form: CN=srv1/OU=sales/O=acme (keys in any letter case, also C=
// for a country); abbreviated form: srv1/sales/acme.  Pure functions.
#ifndef QVD_SIM_SERVER_NAMES_H_
#define QVD_SIM_SERVER_NAMES_H_

#include <string>

namespace vaxelsim {

// Drops the "KEY=" of every component.  A name without any "=" is returned
// unchanged.  False for an empty name or an empty component.
bool AbbreviateName(const std::string& name, std::string* out);

// Adds CN= to the first component, O= to the last and OU= to those between.
// A name that already holds an "=" or has a single component is returned
// unchanged.  False for an empty name or an empty component.
bool CanonicalizeName(const std::string& name, std::string* out);

// The key used to compare two names written either way: canonical form,
// keys upper-cased, values lower-cased.
std::string NameKey(const std::string& name);

}  // namespace vaxelsim

#endif  // QVD_SIM_SERVER_NAMES_H_
