// The pauses of the add-in threads and their stop check, behind one narrow
// door: the line client's connection attempts, MVConfigure's retry wait and
// collectMVEvents' pauses after starting the relay all wait through an
// AddInPace, and end their loops when it says so.  The collector uses
// AddInPace::standard(): real sleeps that a stop request cuts short, and
// the stop check of addin/addin_stop.h.  Tests pass their own pace to count
// the pauses (and so hold their lengths) without sleeping.
//
// Thread-safety: standard() may be used from any thread; an object of
// another kind belongs to whoever made it.
#ifndef QVD_ADDIN_ADDIN_PACE_H_
#define QVD_ADDIN_ADDIN_PACE_H_

class AddInPace {
 public:
  virtual ~AddInPace() = default;

  // Pauses `seconds` seconds, or less when a stop is requested meanwhile.
  // True when the whole pause passed.
  virtual bool sleep(unsigned seconds);

  // True when the add-in threads are to end.
  virtual bool stopping();

  // The collector's pace (not owned by the caller; lives for ever).
  static AddInPace& standard();
};

#endif  // QVD_ADDIN_ADDIN_PACE_H_
