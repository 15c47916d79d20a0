// Values kept for as long as their store, copied into blocks of many: a few
// large pieces of memory, where a piece for each value would lie among what
// the holder's other work allocates and frees, and would make the memory
// allocator's lists of free pieces grow with all that is kept.
#pragma once

#include <algorithm>
#include <cstddef>
#include <memory>
#include <span>
#include <string_view>
#include <type_traits>
#include <vector>

namespace ptrun {

template <typename T>
class BlockStore {
public:
    static constexpr std::size_t kBlockValues = (std::size_t{256} << 10) / sizeof(T);

    // A copy of the values, valid as long as the store; a run of values
    // longer than a block has a block of its own.
    std::span<const T> keep(std::span<const T> values) {
        if (values.empty()) return {};
        T* into = nullptr;
        if (values.size() > kBlockValues) {
            into = own_.emplace_back(std::make_unique_for_overwrite<T[]>(values.size())).get();
        } else {
            if (blocks_.empty() || kBlockValues - used_ < values.size()) {
                blocks_.push_back(std::make_unique_for_overwrite<T[]>(kBlockValues));
                used_ = 0;
            }
            into = blocks_.back().get() + used_;
            used_ += values.size();
        }
        std::copy(values.begin(), values.end(), into);
        return {into, values.size()};
    }

    std::basic_string_view<T> keep_text(std::basic_string_view<T> text)
        requires std::is_same_v<T, char>
    {
        const std::span<const T> kept = keep(std::span<const T>(text.data(), text.size()));
        return {kept.data(), kept.size()};
    }

private:
    std::vector<std::unique_ptr<T[]>> blocks_, own_;
    std::size_t used_ = 0;  // values in the newest block
};

}  // namespace ptrun
