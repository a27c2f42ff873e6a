// Memory for whole video frames. A frame is lent to the output pipe page by
// page, and a reader that moves those pages on (splice, tee) may hold them for
// as long as it likes without saying when it is done; so frame memory is never
// reused: each frame gets new pages from the system, zero-filled, and gives
// them back by unmapping them, which leaves the pipe's references whole.
// Large frames live in huge pages where the system gives them: lending pins
// one huge page for 512 small ones, and a new frame faults in a few pages
// instead of thousands. New pages cost the kernel's zeroing, about as much
// again as packing the frame; copying with write() instead costs more. So a
// frame takes new memory only for what changed (see video/packed_frame.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <type_traits>
#include <utility>

namespace platform {

// New zero-filled pages holding at least `bytes`; freed with
// releaseFrameMemory and the same size. Throws std::bad_alloc when there is none.
void* frameMemory(size_t bytes);
void releaseFrameMemory(void* memory, size_t bytes);
// What frameMemory(bytes) occupies: whole pages.
size_t frameMemoryLength(size_t bytes);

// frameMemory as an allocator, for containers of frame bytes. The memory is
// zero already, so a container's value-initialised bytes cost no pass of
// their own.
template <typename T>
struct FrameAllocator {
  using value_type = T;
  FrameAllocator() = default;
  template <typename U>
  FrameAllocator(const FrameAllocator<U>&) {}
  T* allocate(size_t n) { return static_cast<T*>(frameMemory(n * sizeof(T))); }
  void deallocate(T* p, size_t n) { releaseFrameMemory(p, n * sizeof(T)); }
  template <typename U>
  void construct(U*) {
    static_assert(std::is_trivial_v<U>, "zero bytes are its value only for a trivial type");
  }
  template <typename U, typename... Arguments>
  void construct(U* p, Arguments&&... arguments) {
    ::new (static_cast<void*>(p)) U(std::forward<Arguments>(arguments)...);
  }
  template <typename U>
  bool operator==(const FrameAllocator<U>&) const { return true; }
};

}  // namespace platform
