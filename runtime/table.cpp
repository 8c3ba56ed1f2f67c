#include "table.hpp"

#include <cstdlib>

#include "errors.hpp"

namespace rt {

Table16::Table16(std::string name, std::int32_t upper1, std::int32_t upper2)
    : name_(std::move(name)), upper1_(upper1), upper2_(upper2) {
    std::size_t count = std::size_t(upper1 + 1) * std::size_t(upper2 < 0 ? 1 : upper2 + 1);
    std::size_t blocks = (count + block_entries - 1) / block_entries;
    blocks_ = static_cast<std::int16_t**>(std::calloc(blocks, sizeof(std::int16_t*)));
    if (!blocks_) raise(OutOfMemory, {Msg::TableTooLarge, {name_, numeral(static_cast<long long>(count))}});
    blocks_count_ = blocks;
}

Table16::~Table16() {
    for (std::size_t b = 0; b < blocks_count_; ++b) std::free(blocks_[b]);
    std::free(blocks_);
}

std::size_t Table16::checked(const Value& index, std::int32_t upper, int dimension) const {
    std::int32_t i = to_32bit(index);
    if (i < 0 || i > upper) {
        Msg which = upper2_ < 0 ? Msg::IndexOutside : dimension == 1 ? Msg::FirstIndexOutside : Msg::SecondIndexOutside;
        raise(SubscriptOutOfRange, {which, {numeral(i), name_, numeral(upper)}});
    }
    return static_cast<std::size_t>(i);
}

std::size_t Table16::position(const Value& i, const Value& j) const {
    std::size_t first = checked(i, upper1_, 1);
    std::size_t second = checked(j, upper2_, 2);
    return first + (std::size_t(upper1_) + 1) * second;
}

std::int16_t& Table16::entry(std::size_t position) {
    std::int16_t*& block = blocks_[position / block_entries];
    if (!block) {
        block = static_cast<std::int16_t*>(std::calloc(block_entries, sizeof(std::int16_t)));
        if (!block) raise(OutOfMemory, {Msg::TableBlockTooLarge, {name_}});
    }
    return block[position % block_entries];
}

std::int16_t Table16::value(std::size_t position) const {
    const std::int16_t* block = blocks_[position / block_entries];
    return block ? block[position % block_entries] : 0;
}

std::int16_t& Table16::at(const Value& i) { return entry(checked(i, upper1_, 1)); }
std::int16_t& Table16::at(const Value& i, const Value& j) { return entry(position(i, j)); }
std::int16_t Table16::get(const Value& i) const { return value(checked(i, upper1_, 1)); }
std::int16_t Table16::get(const Value& i, const Value& j) const { return value(position(i, j)); }

}  // namespace rt
