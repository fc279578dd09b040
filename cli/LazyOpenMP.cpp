// The OpenMP runtime of the palette quantiser, loaded when a picture is first quantised
// rather than when palkor-cli starts: of its commands only tex-import and texturise
// quantise, and loading a shared library costs every other command its start-up time.
// The quantiser's calls into the runtime land here and go on to libgomp, opened on the
// first of them; should it be missing, the parallel regions run on the calling thread
// alone, which is what OpenMP does with one thread.
#include <dlfcn.h>

namespace {

struct TOpenMP {
  void (*Parallel)(void (*)(void*), void*, unsigned, unsigned) = nullptr;
  void (*AtomicStart)() = nullptr;
  void (*AtomicEnd)() = nullptr;
  int (*MaxThreads)() = nullptr;
  int (*NumThreads)() = nullptr;
  int (*ThreadNum)() = nullptr;
};

template <class T>
void Find(void* library, const char* name, T& function) {
  function = reinterpret_cast<T>(::dlsym(library, name));
}

// The runtime's functions, all of them or none; the first call comes from the thread that
// starts quantising, before any parallel region.
const TOpenMP& OpenMP() {
  static const TOpenMP runtime = [] {
    TOpenMP found;
    void* library = ::dlopen("libgomp.so.1", RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) return found;
    Find(library, "GOMP_parallel", found.Parallel);
    Find(library, "GOMP_atomic_start", found.AtomicStart);
    Find(library, "GOMP_atomic_end", found.AtomicEnd);
    Find(library, "omp_get_max_threads", found.MaxThreads);
    Find(library, "omp_get_num_threads", found.NumThreads);
    Find(library, "omp_get_thread_num", found.ThreadNum);
    if (!found.Parallel || !found.AtomicStart || !found.AtomicEnd || !found.MaxThreads ||
        !found.NumThreads || !found.ThreadNum)
      return TOpenMP{};
    return found;
  }();
  return runtime;
}

} // namespace

extern "C" {

void GOMP_parallel(void (*function)(void*), void* data, unsigned threads, unsigned flags) {
  if (OpenMP().Parallel)
    OpenMP().Parallel(function, data, threads, flags);
  else
    function(data);
}

void GOMP_atomic_start() {
  if (OpenMP().AtomicStart) OpenMP().AtomicStart();
}

void GOMP_atomic_end() {
  if (OpenMP().AtomicEnd) OpenMP().AtomicEnd();
}

int omp_get_max_threads() {
  return OpenMP().MaxThreads ? OpenMP().MaxThreads() : 1;
}

int omp_get_num_threads() {
  return OpenMP().NumThreads ? OpenMP().NumThreads() : 1;
}

int omp_get_thread_num() {
  return OpenMP().ThreadNum ? OpenMP().ThreadNum() : 0;
}

} // extern "C"
