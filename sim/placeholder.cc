// Replaced by the simulated server's sources.
extern "C" int vaxel_sim_placeholder() { return 0; }
