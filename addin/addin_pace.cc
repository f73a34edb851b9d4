#include "addin/addin_pace.h"

#include "addin/addin_stop.h"

bool AddInPace::sleep(unsigned seconds) { return addInSleep(seconds); }

bool AddInPace::stopping() { return addInStopping(); }

AddInPace& AddInPace::standard() {
  static AddInPace* pace = new AddInPace();  // never destroyed: used while the process exits
  return *pace;
}
