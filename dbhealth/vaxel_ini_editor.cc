// VaxelIniEditor: in-place single-character edits of vaxel.ini.
#include "dbhealth/vaxel_ini_editor.h"

#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "framework/trace.h"
#include "util/atomic_file.h"

QVD_TRACE_UNIT("dbhealth/vaxel_ini_editor");

VaxelIniEditor::VaxelIniEditor(const char* file_name) : file_name_(strdup(file_name ? file_name : "")) {}

VaxelIniEditor::~VaxelIniEditor() {
  freeBuff();
  std::free(file_name_);
}

void VaxelIniEditor::freeBuff() {
  std::free(content_);
  std::free(search_);
  content_ = nullptr;
  search_ = nullptr;
  buffer_size_ = 0;
  content_size_ = 0;
}

int VaxelIniEditor::loadFile() { return loadFile(file_name_); }

int VaxelIniEditor::loadFile(const char* name) {
  loaded_ = false;
  FILE* f = std::fopen(name, "re");
  if (f == nullptr) {
    int open_errno = errno;
    QVD_ALWAYS("Error: can not open file %s", name);
    QVD_ALWAYS("%s cannot be opened for reading: %s.%s", name, std::strerror(open_errno),
               open_errno == ENOENT || open_errno == ENOTDIR
                   ? " Check that QVD_VAXELINIPATH names the directory that "
                     "holds vaxel.ini."
                   : "");
    return 503;
  }
  QVD_DETAIL("%s is opened with r option successfully.", name);
  // What a copy of this file takes over: its mode and owner.
  loaded_ = ::fstat(fileno(f), &loaded_stat_) == 0;
  long size = -1;
  if (std::fseek(f, 0, SEEK_END) == 0) size = std::ftell(f);
  // A file we cannot measure, or one too large for the int sizes of this
  // editor, is treated as unreadable rather than overrunning a buffer.
  if (size < 0 || size >= INT_MAX - 1) {
    std::fclose(f);
    QVD_ALWAYS("Fail to read vaxel.ini");
    return 506;
  }
  QVD_DETAIL("Buffer size for file %s is %d", name, static_cast<int>(size));
  freeBuff();
  content_ = static_cast<char*>(std::malloc(static_cast<size_t>(size) + 1));
  search_ = static_cast<char*>(std::malloc(static_cast<size_t>(size) + 1));
  if (content_ == nullptr || search_ == nullptr) {
    freeBuff();
    std::fclose(f);
    QVD_ALWAYS("Error: insufficient memory to be allocated.");
    return 2;
  }
  buffer_size_ = static_cast<int>(size) + 1;
  std::rewind(f);
  size_t got = std::fread(content_, 1, static_cast<size_t>(size), f);
  if (got < static_cast<size_t>(size)) {
    if (!std::feof(f)) {
      freeBuff();
      std::fclose(f);
      QVD_ALWAYS("Fail to read vaxel.ini");
      return 506;
    }
    QVD_DETAIL("Actual read count is %d, less than the value of position indicator %d.",
               static_cast<int>(got), static_cast<int>(size));
  }
  std::fclose(f);
  content_size_ = static_cast<int>(got);
  content_[got] = '\0';
  for (size_t i = 0; i < got; i++) {
    char c = content_[i];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    else if (c == '\0') c = ' ';
    search_[i] = c;
  }
  search_[got] = '\0';
  return 0;
}

int VaxelIniEditor::saveFile() { return saveFile(file_name_); }

int VaxelIniEditor::saveFile(const char* name) {
  bool ownFile = std::strcmp(name, file_name_) == 0;
  // The file itself is replaced where it is: when its name is a link (the
  // administrator's own), the file the link points at.  A copy is a new
  // file under exactly the name given.
  char resolved[PATH_MAX];
  std::string target = ownFile && realpath(name, resolved) != nullptr ? resolved : name;
  // The file itself keeps its owner, group and mode, or is not replaced at
  // all; a copy gets the loaded file's mode, and its owner where this user
  // may give it.
  AtomicFile file(target,
                  ownFile ? AtomicFile::Ownership::kExact : AtomicFile::Ownership::kWherePossible,
                  loaded_ ? &loaded_stat_ : nullptr);
  if (!file.open()) {
    QVD_ALWAYS("Error: can not open file %s with write option.", name);
    if (file.failure() == AtomicFile::Failure::kKeep) {
      QVD_ALWAYS(
          "%s. The collector replaces the file only as a file of the same owner, group and mode: "
          "run it as the file's owner, or give the file to the collector's user.",
          file.reason().c_str());
    } else {
      QVD_ALWAYS("No new file can be created in directory %s: %s. The directory must exist and be "
                 "writable by the collector's user.",
                 directoryOf(target).c_str(), std::strerror(file.error()));
    }
    return 503;
  }
  if (!file.write(content_ ? content_ : "", static_cast<size_t>(content_size_)) || !file.commit()) {
    QVD_ALWAYS("Error: can not flush to the vaxel.ini.");
    QVD_ALWAYS("%s", file.reason().c_str());
    return 504;
  }
  QVD_DETAIL("Write the content to vaxel.ini successfully.");
  return 0;
}

int VaxelIniEditor::indexOfKeyValue(const char* key) {
  if (search_ == nullptr || key == nullptr || *key == '\0') {
    QVD_DETAIL("%s not found in vaxel.ini", key ? key : "");
    return -1;
  }
  const char* hit = std::strstr(search_, key);
  if (hit != nullptr) {
    long index = (hit - search_) + static_cast<long>(std::strlen(key)) + 1;
    if (index < content_size_) {
      QVD_DETAIL("Index of value for %s is %d ", key, static_cast<int>(index));
      return static_cast<int>(index);
    }
  }
  QVD_DETAIL("%s not found in vaxel.ini", key);
  return -1;
}

int VaxelIniEditor::getKeyValue(const char* key, char* value) {
  int index = indexOfKeyValue(key);
  if (index < 0) return 561;
  *value = content_[index];
  QVD_DETAIL("Value of %s is %c. ", key, *value);
  return 0;
}

int VaxelIniEditor::setKeyValue(const char* key, char value) {
  int index = indexOfKeyValue(key);
  if (index < 0) return 561;
  content_[index] = value;
  QVD_DETAIL("Value of %s is set to %c. ", key, value);
  return 0;
}
