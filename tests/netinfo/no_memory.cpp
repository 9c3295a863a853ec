// The allocation functions of the netinfo tests: memory can run out for one thread at a time.
// Apart from the callers, so that no inlining pairs their new with the free of this delete.
#include <cstdlib>
#include <new>
#include <utility>

namespace nerova::test {
thread_local bool next_allocation_fails = false;
}  // namespace nerova::test

void* operator new(std::size_t size) {
    void* memory = std::exchange(nerova::test::next_allocation_fails, false) ? nullptr : std::malloc(size ? size : 1);
    if (memory == nullptr) throw std::bad_alloc();
    return memory;
}
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
