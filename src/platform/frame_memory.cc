#include "platform/frame_memory.h"

#include <sys/mman.h>
#include <unistd.h>

namespace platform {

namespace {

constexpr size_t hugePage = size_t(2) << 20;

size_t roundUp(size_t bytes, size_t unit) { return (bytes + unit - 1) / unit * unit; }

size_t smallPage() {
  static const size_t size = size_t(sysconf(_SC_PAGESIZE));
  return size;
}

// Memory from half a huge page up lives in huge pages: on this kind of
// machine a new huge page costs less than the faults of 256 small ones.
constexpr size_t hugeFrom = hugePage / 2;

// What a frame of `bytes` occupies.
size_t lengthOf(size_t bytes) {
  if (bytes == 0) return smallPage();
  return bytes < hugeFrom ? roundUp(bytes, smallPage()) : roundUp(bytes, hugePage);
}

}  // namespace

void* frameMemory(size_t bytes) {
  size_t length = lengthOf(bytes);
  if (length < hugeFrom) {
    void* at = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (at == MAP_FAILED) throw std::bad_alloc();
    return at;
  }
  // Over-ask by one huge page, then trim to a start on a huge-page boundary.
  void* at = mmap(nullptr, length + hugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (at == MAP_FAILED) throw std::bad_alloc();
  auto start = reinterpret_cast<uintptr_t>(at);
  uintptr_t aligned = (start + hugePage - 1) & ~(hugePage - 1);
  if (aligned > start) munmap(at, aligned - start);
  uintptr_t end = start + length + hugePage;
  if (end > aligned + length) munmap(reinterpret_cast<void*>(aligned + length), end - (aligned + length));
  madvise(reinterpret_cast<void*>(aligned), length, MADV_HUGEPAGE);  // advice only: small pages serve too
  return reinterpret_cast<void*>(aligned);
}

void releaseFrameMemory(void* memory, size_t bytes) { munmap(memory, lengthOf(bytes)); }

size_t frameMemoryLength(size_t bytes) { return lengthOf(bytes); }

}  // namespace platform
