// A work unit allocates nothing: this program replaces the heap functions
// with counting ones and runs many work units under the counter.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "driver/work_unit.h"
#include "workload/workload.h"
#include "modules/database/database.h"

extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* block, std::size_t size);
void* __libc_memalign(std::size_t alignment, std::size_t size);
void __libc_free(void* block);
}

namespace {

std::atomic<bool> counting{false};
std::atomic<long> allocations{0};

void count() {
    if (counting.load(std::memory_order_relaxed)) allocations.fetch_add(1, std::memory_order_relaxed);
}

// Counts the allocations that fn makes.
template <typename Fn>
long allocations_during(Fn fn) {
    allocations = 0;
    counting = true;
    fn();
    counting = false;
    return allocations.load();
}

}  // namespace

extern "C" {
void* malloc(std::size_t size) {
    count();
    return __libc_malloc(size);
}
void* calloc(std::size_t n, std::size_t size) {
    count();
    return __libc_calloc(n, size);
}
void* realloc(void* block, std::size_t size) {
    count();
    return __libc_realloc(block, size);
}
void* aligned_alloc(std::size_t alignment, std::size_t size) {
    count();
    return __libc_memalign(alignment, size);
}
void free(void* block) { __libc_free(block); }
}

void* operator new(std::size_t size) {
    void* block = malloc(size == 0 ? 1 : size);
    if (block == nullptr) throw std::bad_alloc();
    return block;
}
void* operator new[](std::size_t size) { return operator new(size); }
void operator delete(void* block) noexcept { free(block); }
void operator delete[](void* block) noexcept { free(block); }
void operator delete(void* block, std::size_t) noexcept { free(block); }
void operator delete[](void* block, std::size_t) noexcept { free(block); }

TEST(Allocations, TheCounterSeesEveryKindOfAllocation) {
    // Without this the zero below would prove nothing. The blocks pass
    // through a volatile pointer: a compiler may drop an allocation that is
    // freed unseen (Clang drops new[] with delete[]).
    void* volatile block = nullptr;
    EXPECT_EQ(allocations_during([&] { block = malloc(16); free(block); }), 1);
    EXPECT_EQ(allocations_during([&] { block = calloc(4, 4); free(block); }), 1);
    EXPECT_EQ(allocations_during([&] { block = new int(3); delete static_cast<int*>(block); }), 1);
    EXPECT_EQ(allocations_during([&] { block = new char[5]; delete[] static_cast<char*>(block); }), 1);
}

TEST(Allocations, OnlyTheFirstDatabaseStepOfARunAllocates) {
    for (int run = 0; run < 2; ++run) {
        ASSERT_EQ(setup_workload(), 0);
        // The first unit's database step creates the two selection buffers.
        EXPECT_EQ(allocations_during(run_work_unit), 2) << "run " << run;
        EXPECT_EQ(allocations_during([] {
                      for (int unit = 0; unit < 50; ++unit) run_work_unit();
                  }),
                  0)
            << "run " << run;
        db_release();
    }
}
