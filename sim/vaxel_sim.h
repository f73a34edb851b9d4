// Functions of the simulated server for in-process tests.  They are not
// part of the server API and a real server does not have them.
//
// Thread-safe: each takes the simulator's lock.
#ifndef QVD_SIM_VAXEL_SIM_H_
#define QVD_SIM_VAXEL_SIM_H_

#ifdef __cplusplus
extern "C" {
#endif

// The simulator's description of itself.  A real server library has no
// such function, so a program can tell the two apart without calling the
// server API.  Static text.
const char* vaxelsim_identity(void);
// Handles currently held by the program: memory blocks not yet freed with
// VxMemFree plus open databases, documents and collections.
unsigned vaxelsim_handles_held(void);
// Memory handles alone.
unsigned vaxelsim_memory_handles_held(void);
// Calls of one entry point (by name, e.g. "VxTranslate") since the library
// was loaded or the last vaxelsim_reset; faulted calls included.
unsigned long vaxelsim_call_count(const char* entryPoint);
// Back to a fresh process: frees every handle, zeroes the call counts,
// forgets the runtime state, and re-reads VAXEL_SIM_DIR and VAXEL_SIM_LOG.
void vaxelsim_reset(void);

#ifdef __cplusplus
}  // extern "C"
#endif

#endif  // QVD_SIM_VAXEL_SIM_H_
