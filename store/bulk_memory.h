// Memory for loading a large phone book, made present in bulk.
//
// The first write to each fresh page of memory costs a page fault; on a
// virtual machine that is slow enough (around ten microseconds a page) that a
// million entries spend most of their load time in faults. Asking the kernel
// to populate a whole range at once costs a small fraction of that. All of
// this only saves time: where the kernel cannot populate, pages are faulted
// in one by one as usual.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <new>

namespace phonebook {

// Makes the whole pages within [begin, begin + size) present and writable.
void populate(void* begin, std::size_t size);

// An allocator whose blocks arrive populated; for the loader's large arrays.
template <class T>
struct PopulatedAllocator {
  using value_type = T;
  PopulatedAllocator() = default;
  template <class U>
  PopulatedAllocator(const PopulatedAllocator<U>&) {}

  T* allocate(std::size_t count) {
    void* block = std::malloc(count * sizeof(T));
    if (block == nullptr) throw std::bad_alloc();
    populate(block, count * sizeof(T));
    return static_cast<T*>(block);
  }
  void deallocate(T* block, std::size_t) { std::free(block); }
  bool operator==(const PopulatedAllocator&) const { return true; }
};

// Watches the heap while many entries are allocated one by one, and
// populates each stretch by which it grows.
class HeapGrowth {
 public:
  HeapGrowth();
  // Call after each allocation.
  void populateNew();

 private:
  char* top_;
};

}  // namespace phonebook
