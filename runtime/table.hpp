// Tables of 16-bit integers with lower bound 0, of one or two dimensions, the first index
// varying fastest. Every index is taken as a 32-bit integer (halves to even) and checked
// against its range before use. All entries start at 0. The entries live in zero-filled blocks
// allocated when first written: reading an entry never allocates, so a large table that a run
// barely uses costs neither memory nor page faults.
#pragma once

#include <cstdint>
#include <string>

#include "value.hpp"

namespace rt {

class Table16 {
  public:
    // A table named `name` with indices 0 to upper1 (and 0 to upper2 for a second dimension).
    Table16(std::string name, std::int32_t upper1, std::int32_t upper2 = -1);
    ~Table16();
    Table16(const Table16&) = delete;
    Table16& operator=(const Table16&) = delete;

    // An entry to store into (its block allocated if it was not yet).
    std::int16_t& at(const Value& i);
    std::int16_t& at(const Value& i, const Value& j);
    // An entry's value.
    std::int16_t get(const Value& i) const;
    std::int16_t get(const Value& i, const Value& j) const;

  private:
    static constexpr std::size_t block_entries = 2048;  // 4 KiB
    std::size_t checked(const Value& index, std::int32_t upper, int dimension) const;
    std::size_t position(const Value& i, const Value& j) const;
    std::int16_t& entry(std::size_t position);
    std::int16_t value(std::size_t position) const;

    std::string name_;
    std::int32_t upper1_, upper2_;
    std::int16_t** blocks_;
    std::size_t blocks_count_ = 0;
};

}  // namespace rt
