// The callbacks the database check hands to QVD_VxDbSearch: collecting the
// databases of a directory and the titles of a database's views.
//
// Each receives the context it was given, the match record and the
// summary item table (see VxSearchCallback in serverapi/vaxel.h) and
// returns a server status, 0 to go on.
#ifndef QVD_DBHEALTH_SEARCH_CALLBACKS_H_
#define QVD_DBHEALTH_SEARCH_CALLBACKS_H_

#include "serverapi/vaxel.h"
#include "util/string_list.h"

// Context of a view-title search.
struct DbViewList {
  VxDbHandle db;            // the open database
  QVD::StringList* views;   // receives the titles
  bool titleOnly;           // cut each title at its first '|' (drop aliases)
};

// File search over a directory; context is the QVD::StringList of database
// paths.  Considers a match only when it is a database (flag 0x01) and
// hands its summary to getDatabaseList.  Always 0.
VxStatus fileAction(void* context, const VxSearchMatch* match, const void* summary);

// Appends the text of the summary's "$Path" item to `list` unless the list
// holds it already.  The table is walked within its own total length: a
// table whose lengths point outside it, or a path longer than 255 bytes
// (no server buffer could hold it), adds nothing and writes a trace line.
// Any number of items is fine.  Always 0.
VxStatus getDatabaseList(const void* summary, QVD::StringList* list);

// View search over a database; context is a DbViewList.  Opens the view's
// design note, appends its "$TITLE" and closes the note.  The failing
// status of the open or the item read, else 0.
VxStatus getViewName(void* context, const VxSearchMatch* match, const void* summary);

#endif  // QVD_DBHEALTH_SEARCH_CALLBACKS_H_
