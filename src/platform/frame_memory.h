// Memory for whole video frames, in huge pages where the system gives them: a
// frame is lent to the output pipe page by page, and the kernel pins one huge
// page for 512 small ones.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

// Memory of `bytes` (small sizes from the heap); freed with
// releaseFrameMemory and the same size. Throws std::bad_alloc when there is none.
void* frameMemory(size_t bytes);
void releaseFrameMemory(void* memory, size_t bytes);

// frameMemory as an allocator, for containers of frame bytes.
template <typename T>
struct FrameAllocator {
  using value_type = T;
  FrameAllocator() = default;
  template <typename U>
  FrameAllocator(const FrameAllocator<U>&) {}
  T* allocate(size_t n) { return static_cast<T*>(frameMemory(n * sizeof(T))); }
  void deallocate(T* p, size_t n) { releaseFrameMemory(p, n * sizeof(T)); }
  template <typename U>
  bool operator==(const FrameAllocator<U>&) const { return true; }
};

}  // namespace platform
