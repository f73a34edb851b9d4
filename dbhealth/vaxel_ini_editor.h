// VaxelIniEditor: reads the server's vaxel.ini and changes single-character
// values in place, leaving every other byte as it was.
//
// A key is found by a plain, case-insensitive substring search over the whole
// file (it also matches inside a longer name or a comment); its value is the
// one character after the single separator character that follows the key.
//
// Saving never leaves a truncated file behind and never writes through a
// link it did not make: the content goes to a temporary file created
// exclusively in the target's folder, is synced to disk and replaces the
// target by rename (util/atomic_file.h).  The file itself keeps its owner,
// group and mode; when this process may not write it, or cannot give the
// new file that owner and group, the file is left as it is and saving fails
// with 503, naming the reason in a trace line.  A copy saved under another
// name gets the loaded file's mode (and owner where possible), never the
// looser default of a new file.
//
// Result codes: 0 success, 2 out of memory, 503 cannot open (or cannot
// keep owner, group and mode), 504 cannot flush (write failed), 506 read
// error, 561 key not found.
// Not thread-safe; one editor per caller.
#ifndef QVD_DBHEALTH_VAXEL_INI_EDITOR_H_
#define QVD_DBHEALTH_VAXEL_INI_EDITOR_H_

#include <sys/stat.h>

class VaxelIniEditor {
 public:
  explicit VaxelIniEditor(const char* file_name);
  ~VaxelIniEditor();
  VaxelIniEditor(const VaxelIniEditor&) = delete;
  VaxelIniEditor& operator=(const VaxelIniEditor&) = delete;

  // Reads the whole file named at construction (or `name`) into memory.
  // Returns 0, 503, 2 or 506; on failure no buffer is held.
  int loadFile();
  int loadFile(const char* name);

  // Writes the content to the file named at construction (a link there is
  // followed: the file it points at is replaced) or to `name` (a copy,
  // replacing whatever stands at that name, a link included), atomically.
  // Returns 0, 503 or 504.
  int saveFile();
  int saveFile(const char* name);

  // Stores the value character of `key` (upper case) in *value.  Returns 0,
  // or 561 when the key is not found (*value untouched).
  int getKeyValue(const char* key, char* value);

  // Writes `value` as the value character of `key` in the content.  Returns
  // 0, or 561 when the key is not found.
  int setKeyValue(const char* key, char value);

  // Position of the value character of `key` in the content, or -1.
  int indexOfKeyValue(const char* key);

  // Frees both buffers.
  void freeBuff();

  // The loaded content (contentSize() bytes), for tests and callers that
  // compare files.
  const char* content() const { return content_; }
  int contentSize() const { return content_size_; }

 private:
  char* file_name_;        // owned
  char* content_ = nullptr;  // the file's bytes, owned
  char* search_ = nullptr;   // upper-cased copy, NULs as blanks, owned
  int buffer_size_ = 0;      // file size + 1
  int content_size_ = 0;     // bytes read
  bool loaded_ = false;      // loaded_stat_ holds the last loaded file's
  struct stat loaded_stat_;  // owner, group and mode
};

#endif  // QVD_DBHEALTH_VAXEL_INI_EDITOR_H_
