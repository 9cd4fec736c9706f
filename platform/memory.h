// Memory for loading a large phone book, made present in bulk.
//
// The first write to each fresh page of memory costs a page fault; on a
// virtual machine that is slow enough (around ten microseconds a page) that a
// million entries spend most of their load time in faults. Asking the kernel
// to populate a whole range at once costs a small fraction of that. All of
// this only saves time: where the kernel cannot populate, pages are faulted
// in one by one as usual. Where the platform has no such request
// (Windows, and POSIX systems other than Linux), these are plain
// allocations (memory_plain.cpp).
#pragma once

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string_view>

namespace phonebook {

// Makes the whole pages within [begin, begin + size) present and writable.
void populate(void* begin, std::size_t size);

// A block of `size` bytes, present and writable, in huge pages where the
// system gives them: each page of ordinary size costs a fault and a slot in
// the translation cache, which on a virtual machine is dearer than the
// copying done in it. Release it with std::free. nullptr when there is no
// storage.
void* allocatePopulated(std::size_t size);

// Storage that the program hands out and takes back itself, as the
// entries' blocks: [begin, begin + size) is marked as released, so that in
// the builds that check memory a use of it stops the program as a use of
// freed storage would, or as usable again. Nothing in other builds.
void markReleased(void* begin, std::size_t size);
void markUsable(void* begin, std::size_t size);

// An allocator whose blocks arrive populated; for the loader's large arrays.
template <class T>
struct PopulatedAllocator {
  using value_type = T;
  PopulatedAllocator() = default;
  template <class U>
  PopulatedAllocator(const PopulatedAllocator<U>&) {}

  T* allocate(std::size_t count) {
    void* block = allocatePopulated(count * sizeof(T));
    if (block == nullptr) throw std::bad_alloc();
    return static_cast<T*>(block);
  }
  void deallocate(T* block, std::size_t) { std::free(block); }
  bool operator==(const PopulatedAllocator&) const { return true; }
};

// A growing run of bytes whose room arrives populated. It grows with
// realloc, which moves a large block by remapping its pages instead of
// copying them, and only the new room is populated: growing it step by step
// costs about what reserving the final size at once would.
class PopulatedBytes {
 public:
  PopulatedBytes() = default;
  ~PopulatedBytes() { std::free(data_); }
  PopulatedBytes(const PopulatedBytes&) = delete;
  PopulatedBytes& operator=(const PopulatedBytes&) = delete;

  const char* data() const { return data_; }
  std::size_t size() const { return size_; }
  std::size_t room() const { return room_; }
  char operator[](std::size_t at) const { return data_[at]; }

  // Makes room for `room` bytes in all; never shrinks. Throws std::bad_alloc
  // when the storage cannot be obtained.
  void reserve(std::size_t room) {
    if (room <= room_) return;
    char* grown = static_cast<char*>(std::realloc(data_, room));
    if (grown == nullptr) throw std::bad_alloc();
    populate(grown + room_, room - room_);
    data_ = grown;
    room_ = room;
  }

  // REQUIRES: the bytes fit the room.
  void append(char byte) { data_[size_++] = byte; }
  void append(std::string_view bytes) {
    std::memcpy(data_ + size_, bytes.data(), bytes.size());
    size_ += bytes.size();
  }

  // Keeps only the first `size` bytes. REQUIRES: size <= size().
  void truncate(std::size_t size) { size_ = size; }

 private:
  char* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t room_ = 0;
};

}  // namespace phonebook
