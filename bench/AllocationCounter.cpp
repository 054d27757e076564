// The replaced allocation functions that count every heap allocation of the
// bench program, and the counter that reports them.
//
// Two doors lead to the heap and both are counted: the global operator new
// (every form), and, with the GNU C library, the C allocator itself
// (malloc, calloc, realloc, posix_memalign, aligned_alloc), which the
// runtime's strings use directly. Each replacement counts once and then
// calls the C library's own allocator, so nothing is counted twice.
//
// Under AddressSanitizer the C allocator belongs to the sanitizer and is
// left alone: only operator new is counted there, and strings are not.
//
// The program's definitions take the place of the libraries' in the whole
// process, the shared libraries included, as long as the executable exports
// them: the targets are built with hidden visibility, so each definition is
// marked with default visibility.
#include "AllocationCounter.h"

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <new>

#if defined(__SANITIZE_ADDRESS__)
#define BENCH_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define BENCH_ASAN 1
#endif
#endif

#if defined(__GLIBC__) && !defined(BENCH_ASAN)
#define BENCH_COUNTS_C_ALLOCATOR 1
// The GNU C library's own allocator, under the names it keeps for programs
// that replace malloc.
extern "C" {
void* __libc_malloc(std::size_t n);
void* __libc_calloc(std::size_t count, std::size_t n);
void* __libc_realloc(void* p, std::size_t n);
void* __libc_memalign(std::size_t alignment, std::size_t n);
void __libc_free(void* p);
}
#endif

#define BENCH_REPLACED __attribute__((visibility("default")))

namespace bench {
namespace {

// One thread: plain integers.
std::uint64_t allocations = 0;
std::uint64_t bytes = 0;  // asked for, not counting the allocator's own headers

void counted(std::size_t n) noexcept {
  ++allocations;
  bytes += n;
}

#ifdef BENCH_COUNTS_C_ALLOCATOR
void* heapAllocate(std::size_t n) noexcept { return __libc_malloc(n); }
void* heapAllocateAligned(std::size_t alignment, std::size_t n) noexcept { return __libc_memalign(alignment, n); }
void heapFree(void* p) noexcept { __libc_free(p); }
#else
void* heapAllocate(std::size_t n) noexcept { return std::malloc(n); }
void* heapAllocateAligned(std::size_t alignment, std::size_t n) noexcept {
  void* p = nullptr;
  return posix_memalign(&p, alignment, n) == 0 ? p : nullptr;
}
void heapFree(void* p) noexcept { std::free(p); }
#endif

void* allocate(std::size_t n) noexcept {
  counted(n);
  return heapAllocate(n ? n : 1);
}

void* allocateAligned(std::size_t n, std::size_t alignment) noexcept {
  counted(n);
  if (alignment < sizeof(void*)) alignment = sizeof(void*);  // the least posix_memalign takes
  return heapAllocateAligned(alignment, n ? n : 1);
}

void* orThrow(void* p) {
  if (!p) throw std::bad_alloc();
  return p;
}

}  // namespace

std::uint64_t allocationCount() noexcept { return allocations; }
std::uint64_t allocatedBytes() noexcept { return bytes; }

AllocationCounter::~AllocationCounter() { stop(); }

void AllocationCounter::stop() {
  if (stopped_) return;
  stopped_ = true;
  std::uint64_t const made = allocationCount() - start_ - paused_;
  state_.counters["allocs"] = benchmark::Counter(static_cast<double>(made), benchmark::Counter::kAvgIterations);
}

void AllocationCounter::pause() {
  state_.PauseTiming();
  pausedAt_ = allocationCount();
}

void AllocationCounter::resume() {
  paused_ += allocationCount() - pausedAt_;
  state_.ResumeTiming();
}

}  // namespace bench

// --- operator new and delete

namespace {
std::size_t alignmentOf(std::align_val_t a) { return static_cast<std::size_t>(a); }
}  // namespace

BENCH_REPLACED void* operator new(std::size_t n) { return bench::orThrow(bench::allocate(n)); }
BENCH_REPLACED void* operator new[](std::size_t n) { return bench::orThrow(bench::allocate(n)); }
BENCH_REPLACED void* operator new(std::size_t n, std::nothrow_t const&) noexcept { return bench::allocate(n); }
BENCH_REPLACED void* operator new[](std::size_t n, std::nothrow_t const&) noexcept { return bench::allocate(n); }
BENCH_REPLACED void* operator new(std::size_t n, std::align_val_t a) {
  return bench::orThrow(bench::allocateAligned(n, alignmentOf(a)));
}
BENCH_REPLACED void* operator new[](std::size_t n, std::align_val_t a) {
  return bench::orThrow(bench::allocateAligned(n, alignmentOf(a)));
}
BENCH_REPLACED void* operator new(std::size_t n, std::align_val_t a, std::nothrow_t const&) noexcept {
  return bench::allocateAligned(n, alignmentOf(a));
}
BENCH_REPLACED void* operator new[](std::size_t n, std::align_val_t a, std::nothrow_t const&) noexcept {
  return bench::allocateAligned(n, alignmentOf(a));
}

BENCH_REPLACED void operator delete(void* p) noexcept { bench::heapFree(p); }
BENCH_REPLACED void operator delete[](void* p) noexcept { bench::heapFree(p); }
BENCH_REPLACED void operator delete(void* p, std::size_t) noexcept { bench::heapFree(p); }
BENCH_REPLACED void operator delete[](void* p, std::size_t) noexcept { bench::heapFree(p); }
BENCH_REPLACED void operator delete(void* p, std::nothrow_t const&) noexcept { bench::heapFree(p); }
BENCH_REPLACED void operator delete[](void* p, std::nothrow_t const&) noexcept { bench::heapFree(p); }
BENCH_REPLACED void operator delete(void* p, std::align_val_t) noexcept { bench::heapFree(p); }
BENCH_REPLACED void operator delete[](void* p, std::align_val_t) noexcept { bench::heapFree(p); }
BENCH_REPLACED void operator delete(void* p, std::size_t, std::align_val_t) noexcept { bench::heapFree(p); }
BENCH_REPLACED void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { bench::heapFree(p); }
BENCH_REPLACED void operator delete(void* p, std::align_val_t, std::nothrow_t const&) noexcept { bench::heapFree(p); }
BENCH_REPLACED void operator delete[](void* p, std::align_val_t, std::nothrow_t const&) noexcept {
  bench::heapFree(p);
}

// --- The C allocator

#ifdef BENCH_COUNTS_C_ALLOCATOR
extern "C" {

BENCH_REPLACED void* malloc(std::size_t n) noexcept {
  bench::counted(n);
  return __libc_malloc(n);
}

BENCH_REPLACED void* calloc(std::size_t count, std::size_t n) noexcept {
  bench::counted(count * n);
  return __libc_calloc(count, n);
}

// Every call that leaves a block counts as an allocation, moved or not.
BENCH_REPLACED void* realloc(void* p, std::size_t n) noexcept {
  if (n != 0 || !p) bench::counted(n);
  return __libc_realloc(p, n);
}

BENCH_REPLACED int posix_memalign(void** p, std::size_t alignment, std::size_t n) noexcept {
  if (alignment < sizeof(void*) || (alignment & (alignment - 1)) != 0) return EINVAL;
  bench::counted(n);
  void* const block = __libc_memalign(alignment, n);
  if (!block) return ENOMEM;
  *p = block;
  return 0;
}

BENCH_REPLACED void* aligned_alloc(std::size_t alignment, std::size_t n) noexcept {
  bench::counted(n);
  return __libc_memalign(alignment, n);
}

BENCH_REPLACED void free(void* p) noexcept { __libc_free(p); }

}  // extern "C"
#endif
