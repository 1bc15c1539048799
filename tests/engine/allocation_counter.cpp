// Replaces the program's operator new so that tests can prove a code path
// does not allocate. Kept in a file of its own so that the compiler never
// sees a replaced new and its matching delete inlined into one caller.

#include "allocation_counter.h"

#include <cstdlib>
#include <new>

namespace {

thread_local int countingScopes = 0;
thread_local int allocations = 0;

} // namespace

void* operator new(std::size_t size) {
    if (countingScopes > 0) {
        ++allocations;
    }
    if (void* memory = std::malloc(size ? size : 1)) {
        return memory;
    }
    throw std::bad_alloc();
}

// std::stable_sort takes its buffer through the nothrow form; it must come
// from the same malloc that the replaced delete returns it to.
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return ::operator new(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

void operator delete(void* memory) noexcept {
    std::free(memory);
}
void operator delete(void* memory, std::size_t) noexcept {
    std::free(memory);
}
void operator delete(void* memory, const std::nothrow_t&) noexcept {
    std::free(memory);
}

namespace quellora::testing {

AllocationCounter::AllocationCounter()
    : start_(allocations) {
    ++countingScopes;
}
AllocationCounter::~AllocationCounter() {
    --countingScopes;
}
int AllocationCounter::count() const {
    return allocations - start_;
}

} // namespace quellora::testing
