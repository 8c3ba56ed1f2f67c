// The divisor listing: the lines that the counted loop
//     for i = K to M step 1: if M mod i = 0 then write i
// writes, where a counter that rounds to 0 is skipped (0 divides nothing), produced without
// visiting every counter.
#pragma once

#include <string_view>

#include "value.hpp"

namespace computer {

class LineSink {
  public:
    virtual ~LineSink() = default;
    virtual void write(std::string_view text) = 0;
};

// Writes the loop's lines to out, in the loop's order. Raises the loop's run-time errors at the
// point the loop would: an M or first counter beyond the 32-bit range once rounded is the
// overflow error on the first pass, before any line.
void list_divisor_counters(const rt::Value& K, const rt::Value& M, LineSink& out);

}  // namespace computer
