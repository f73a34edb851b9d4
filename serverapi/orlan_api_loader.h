// Binding of the Velora server's Orlan C API (libvaxel).
//
// qvdclient links libvaxel at load time: the dynamic linker binds it when
// the process starts, so there is nothing to load by hand.  The loader
// singleton and the factory give start-up one place to ask whether the API
// is usable before the first QVD_ wrapper is called; when the factory
// reports an error, start-up must stop without calling any wrapper.
//
// Thread-safety: the singleton is constant-initialised before main runs and
// never changes afterwards; every operation may be called from any thread.
#ifndef QVD_SERVERAPI_ORLAN_API_LOADER_H_
#define QVD_SERVERAPI_ORLAN_API_LOADER_H_

#include <cstddef>

// The entry points of the Orlan C API the collector calls, one per QVD_
// wrapper, by name.
constexpr size_t kOrlanAPICount = 57;
extern const char* const kOrlanAPINames[kOrlanAPICount];

class OrlanAPILoader {
 public:
  // Returns the process-wide loader.
  static OrlanAPILoader& getInstance();

  // Load-time binding: the library is already bound; returns false and
  // writes only flow events.
  bool loadLibvaxel();
  // Load-time binding: nothing to release; returns false.
  bool unloadLibvaxel();
  // Entry points are not looked up by name: returns null.
  void* loadOrlanAPI(const char* name);
  // True when the library or an entry point could not be bound (never in
  // load-time binding).
  bool hasLoadAPIErr() const;
  // True when every entry point of kOrlanAPINames is bound in the process.
  // A library without one of them (an older server release, say) would
  // otherwise fail only at that entry point's first call; each missing name
  // gets an error trace line.
  bool checkAllRequiredOrlanAPI();

  OrlanAPILoader(const OrlanAPILoader&) = delete;
  OrlanAPILoader& operator=(const OrlanAPILoader&) = delete;

 private:
  // Load-time binding holds no library handle of its own: the dynamic
  // linker owns the binding for the life of the process.
  constexpr OrlanAPILoader() : m_loadErr(false) {}

  bool m_loadErr;  // false in load-time binding

  static OrlanAPILoader m_loader;
};

// Scope object of the collector's main routine: create it first, read
// hasLoadAPIErr() right away, and stop without touching the server API when
// it is set.  The destructor does nothing.
class OrlanAPILoaderFactory {
 public:
  // Checks the library bound at load time (OrlanAPILoader::hasLoadAPIErr
  // and checkAllRequiredOrlanAPI).
  OrlanAPILoaderFactory();
  // Binds the library at `libraryPath` at run time, checks that it exports
  // every entry point of kOrlanAPINames and releases it again.  The flag is
  // set when the library cannot be bound or lacks an entry point; each
  // problem gets an error trace line.  Used to vet a library before use.
  explicit OrlanAPILoaderFactory(const char* libraryPath);
  ~OrlanAPILoaderFactory() = default;

  OrlanAPILoaderFactory(const OrlanAPILoaderFactory&) = delete;
  OrlanAPILoaderFactory& operator=(const OrlanAPILoaderFactory&) = delete;

  bool hasLoadAPIErr() const { return m_loadAPIErr; }

 private:
  bool m_loadAPIErr;
};

#endif  // QVD_SERVERAPI_ORLAN_API_LOADER_H_
