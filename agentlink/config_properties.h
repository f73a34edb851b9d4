// Configuration properties of the agent link's host: plain properties by
// name and properties of subnodes (the several monitored instances of one
// kind a collector may serve).
//
// A property comes from the property map once the host has filled one with
// setConfigurationProperty, otherwise from the process environment.  Subnode
// property names are built from the product code PC (property
// PWX_PRODUCT_CODE), the subnode type T, the variable name N and the
// subnode's position I counted from 1:
//   PC_T_COUNT         number of subnodes of type T
//   PC_T_IDLABEL_I     key (label) of the I-th subnode
//   PC_T_N_I           variable N of the I-th subnode
//   PC_T_N_DEFAULT     variable N of every subnode without its own value
//   N                  the plain property, last resort
//   N_PWX_TRACE        text shown in traces in place of N's value
//
// Returned texts belong to the property map or the environment unless a
// function says otherwise.
//
// Thread-safety: the map is filled before use and read-only afterwards; no
// function locks.
#ifndef QVD_AGENTLINK_CONFIG_PROPERTIES_H_
#define QVD_AGENTLINK_CONFIG_PROPERTIES_H_

#include "agentlink/hash_map.h"

// Stores copies of name and value, creating the map on first use; a later
// value replaces an earlier one.
void setConfigurationProperty(const char* name, const char* value);

// Frees the property map and everything in it; lookups go to the
// environment again.
void clearConfigurationProperties();

// The property's value, or null.
const char* getConfigurationProperty(const char* name);

// The configured number of subnodes of `type`, or -1 when it is not set.
int getNumSubnodes(const char* productCode, const char* type);

// The key of the subnode at `index` (from 1), or null when absent or blank.
const char* getSubnodeKey(const char* productCode, const char* type, int index);

// The position of the subnode whose key is `key`, as a new decimal text the
// caller frees with free(), or null.
char* getSubnodeIndex(const char* productCode, const char* key, const char* type);

// Variable `name` of the subnode at `index` (decimal text, may be null): the
// subnode's own value, else the type's default, else the plain property.
// Empty values count as absent, except the plain property's.
const char* getSubnodeConfigurationVariable(const char* productCode, const char* type,
                                            const char* name, const char* index);

// Variable `name` of the subnode of `type` whose key is `key`.
const char* getSubnodeConfigurationProperty(const char* name, const char* type, const char* key);

// Every variable of the subnode of `type` with key `key` (its own values,
// completed by the type's defaults) as a new map of owned copies; release it
// with freeSubnodeInstanceEnv.  Empty without a property map or when the key
// is not configured.  Null only when memory is short.
HashMap* getSubnodeInstanceEnv(const char* key, const char* type);

// Frees every key and value of `env` and the map itself.  Null does nothing.
void freeSubnodeInstanceEnv(HashMap* env);

#endif  // QVD_AGENTLINK_CONFIG_PROPERTIES_H_
