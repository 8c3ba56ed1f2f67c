// The divisor loop written the slow, literal way on Values: the reference the fast listing is
// held to, and the baseline of its benchmark.
#pragma once

#include <string>

#include "loop.hpp"
#include "value.hpp"

namespace reference {

// for i = K to M, step 1: both remainder operands rounded first (beyond 32 bits: the overflow
// error); a counter that rounds to 0 divides nothing and is skipped; otherwise, if M mod i = 0,
// the line i goes to write(text).
template <class Write>
void literal_divisor_loop(const rt::Value& K, const rt::Value& M, Write write) {
    rt::Value i;
    std::string line;
    for (rt::CountedLoop loop(i, K, M); loop.running(); loop.next()) {
        rt::to_32bit(M);
        if (rt::to_32bit(i) == 0) continue;
        if (rt::equal(rt::remainder(M, i), rt::Integer(0))) {
            line.clear();
            rt::append_text(line, i);
            line += '\n';
            write(line);
        }
    }
}

}  // namespace reference
