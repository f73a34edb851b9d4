// deleteSpaces: the blank remover shared by the database check
// configuration (path lists and the view configuration file).
#ifndef QVD_DBHEALTH_DELETE_SPACES_H_
#define QVD_DBHEALTH_DELETE_SPACES_H_

// Removes every blank, tab and line-feed character from the terminated
// `text`, in place.  Returns 0, or 1 when text is null (nothing changes).
int deleteSpaces(char* text);

#endif  // QVD_DBHEALTH_DELETE_SPACES_H_
