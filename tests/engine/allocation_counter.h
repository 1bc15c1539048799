#pragma once

namespace quellora::testing {

// Counts the allocations made on the current thread while it exists (the
// test program's operator new is replaced to make that possible).
class AllocationCounter {
public:
    AllocationCounter();
    ~AllocationCounter();
    AllocationCounter(const AllocationCounter&) = delete;
    AllocationCounter& operator=(const AllocationCounter&) = delete;

    int count() const;

private:
    int start_;
};

} // namespace quellora::testing
