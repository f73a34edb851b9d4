// Configuration properties and subnode lookups of the agent link.
#include "agentlink/config_properties.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "agentlink/cp_client.h"
#include "framework/trace.h"

QVD_TRACE_UNIT("agentlink/config");

namespace {

HashMap* configProperties = nullptr;

bool Present(const char* v) { return v != nullptr && v[0] != '\0'; }

// The property quietly, for existence tests that must not trace "not found".
const char* Peek(const char* name) {
  if (configProperties != nullptr) return static_cast<const char*>(configProperties->get(name));
  return getenv(name);
}

std::string Join(const char* a, const char* b) {
  std::string s(a != nullptr ? a : "");
  s += '_';
  s += b != nullptr ? b : "";
  return s;
}

}  // namespace

void setConfigurationProperty(const char* name, const char* value) {
  if (name == nullptr) return;
  if (configProperties == nullptr) {
    configProperties = new (std::nothrow) HashMap();
    if (configProperties == nullptr) {
      QVD_ERROR("malloc failed");
      return;
    }
  }
  char* v = value != nullptr ? strdup(value) : nullptr;
  if (value != nullptr && v == nullptr) {
    QVD_ERROR("malloc failed");
    return;
  }
  if (configProperties->contains(name)) {
    // The map keeps the first key; only the value is replaced.
    std::free(const_cast<void*>(configProperties->get(name)));
    configProperties->put(name, v);
    return;
  }
  char* k = strdup(name);
  if (k == nullptr || !configProperties->put(k, v)) {
    QVD_ERROR("malloc failed");
    std::free(k);
    std::free(v);
  }
}

void clearConfigurationProperties() {
  if (configProperties == nullptr) return;
  configProperties->foreach(hashMapFreeKeyData, nullptr);
  delete configProperties;
  configProperties = nullptr;
}

const char* getConfigurationProperty(const char* name) {
  if (name == nullptr) return nullptr;
  if (configProperties != nullptr) {
    const char* value = static_cast<const char*>(configProperties->get(name));
    if (value == nullptr) {
      QVD_DETAIL("%s not found in the hash map", name);
      return nullptr;
    }
    if (QVD_TRACE_ON(TRACE_DETAIL)) {
      std::string traceName = std::string(name) + "_PWX_TRACE";
      const char* shown = static_cast<const char*>(configProperties->get(traceName.c_str()));
      QVD_DETAIL("found variable %s=%s", name, shown != nullptr ? shown : value);
    }
    return value;
  }
  const char* value = getenv(name);
  if (value == nullptr) QVD_DETAIL("%s not found in the environment", name);
  return value;
}

int getNumSubnodes(const char* productCode, const char* type) {
  std::string name = Join(productCode, type) + "_COUNT";
  const char* value = getConfigurationProperty(name.c_str());
  if (value == nullptr) {
    QVD_ERROR("%s not set -- unable to determine number of subnodes from config", name.c_str());
    return -1;
  }
  return std::atoi(value);
}

const char* getSubnodeKey(const char* productCode, const char* type, int index) {
  std::string name = Join(productCode, type) + "_IDLABEL_" + std::to_string(index);
  const char* value = getConfigurationProperty(name.c_str());
  if (!Present(value)) {
    QVD_ERROR("%s undefined or blank, skipping", name.c_str());
    return nullptr;
  }
  QVD_DETAIL("Found subnode %s of type %s, index = %d", value, type != nullptr ? type : "(null)", index);
  return value;
}

char* getSubnodeIndex(const char* productCode, const char* key, const char* type) {
  QVD_DETAIL("Looking for index of subnode key %s", key != nullptr ? key : "(null)");
  int n = getNumSubnodes(productCode, type);
  char* result = nullptr;
  for (int i = 1; i <= n && key != nullptr; ++i) {
    const char* k = getSubnodeKey(productCode, type, i);
    if (k != nullptr && std::strcmp(k, key) == 0) {
      result = strdup(std::to_string(i).c_str());
      QVD_DETAIL("HIT: value %s which matches %s", k, key);
      break;
    }
  }
  QVD_DETAIL("Returning index = %s", result != nullptr ? result : "(null)");
  return result;
}

const char* getSubnodeConfigurationVariable(const char* productCode, const char* type, const char* name,
                                            const char* index) {
  std::string base = Join(Join(productCode, type).c_str(), name);
  std::string own = Join(base.c_str(), index);
  const char* value = getConfigurationProperty(own.c_str());
  if (Present(value)) {
    QVD_DETAIL("found variable %s from property %s", name, own.c_str());
    return value;
  }
  std::string def = base + "_DEFAULT";
  value = getConfigurationProperty(def.c_str());
  if (Present(value)) {
    QVD_DETAIL("found variable %s from property %s", name, def.c_str());
    return value;
  }
  value = getConfigurationProperty(name);
  std::string traceName = std::string(name != nullptr ? name : "") + "_PWX_TRACE";
  if (value != nullptr || Peek(traceName.c_str()) != nullptr) {
    QVD_DETAIL("found variable %s from property %s", name, name);
  } else {
    QVD_DETAIL("did not find variable %s", name != nullptr ? name : "(null)");
  }
  return value;
}

const char* getSubnodeConfigurationProperty(const char* name, const char* type, const char* key) {
  const char* productCode = getConfigurationProperty("PWX_PRODUCT_CODE");
  char* index = getSubnodeIndex(productCode, key, type);
  const char* value = getSubnodeConfigurationVariable(productCode, type, name, index);
  std::free(index);
  return value;
}

HashMap* getSubnodeInstanceEnv(const char* key, const char* type) {
  const char* productCode = getConfigurationProperty("PWX_PRODUCT_CODE");
  std::string prefix = Join(productCode, type) + "_";
  char* index = getSubnodeIndex(productCode, key, type);
  HashMap* env = new (std::nothrow) HashMap();
  if (env == nullptr) {
    QVD_ERROR("malloc failed");
    std::free(index);
    return nullptr;
  }
  int own = 0;
  int defaults = 0;
  if (configProperties != nullptr && index != nullptr) {
    // Pass 1 takes the subnode's own values, pass 2 fills in defaults for
    // the variables still missing.
    for (int pass = 1; pass <= 2; ++pass) {
      HashMapIterator it = configProperties->iterator();
      while (it.hasNext()) {
        it.next();
        const char* prop = it.getKey();
        if (std::strncmp(prop, prefix.c_str(), prefix.size()) != 0) continue;
        const char* rest = prop + prefix.size();
        const char* last = std::strrchr(rest, '_');
        if (last == nullptr || last == rest) continue;
        const char* part = last + 1;
        bool match = pass == 1 ? std::strcmp(part, index) == 0 : std::strncmp(part, "DEFAULT", 7) == 0 && std::strlen(part) == 7;
        if (!match) continue;
        std::string var(rest, static_cast<size_t>(last - rest));
        if (pass == 2 && env->contains(var.c_str())) continue;
        char* k = strdup(var.c_str());
        const char* value = static_cast<const char*>(it.getData());
        char* v = value != nullptr ? strdup(value) : nullptr;
        if (k == nullptr || env->contains(k) || !env->put(k, v)) {
          std::free(k);
          std::free(v);
          continue;
        }
        (pass == 1 ? own : defaults)++;
      }
    }
  }
  QVD_DETAIL("Found %d+%d variables for subnode %s:%s:%s", own, defaults, productCode != nullptr ? productCode : "(null)",
             key != nullptr ? key : "(null)", type != nullptr ? type : "(null)");
  std::free(index);
  return env;
}

void freeSubnodeInstanceEnv(HashMap* env) {
  if (env == nullptr) return;
  env->foreach(hashMapFreeKeyData, nullptr);
  delete env;
}

const char* cp_GetConfigurationProperty(const char* name) { return getConfigurationProperty(name); }

const char* cp_GetSubnodeConfigurationProperty(const char* name, const char* type, const char* key) {
  return getSubnodeConfigurationProperty(name, type, key);
}
