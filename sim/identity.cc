// The simulator's name for itself, outside the server API.
#include "sim/vaxel_sim.h"

extern "C" const char* vaxelsim_identity(void) {
  return "simulated Velora server, model from VAXEL_SIM_DIR";
}
