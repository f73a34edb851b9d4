// The collector's version, fixed when it was built: `git describe` of the
// source tree ("v1.2-3-gabcdef0", or a commit id with "-dirty" for a tree
// with uncommitted changes), or the project's version for a build outside
// a git checkout.
#ifndef QVD_STATE_VERSION_H_
#define QVD_STATE_VERSION_H_

// The version text; a static string.
const char* qvdVersion();

#endif  // QVD_STATE_VERSION_H_
