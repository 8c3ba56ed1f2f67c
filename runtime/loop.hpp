// The counted loop: start, end and step are taken once; the counter starts at
// start and grows by step as a Value sum; the body runs while the counter is not past the end.
#pragma once

#include "value.hpp"

namespace rt {

class CountedLoop {
  public:
    // Assigns start to counter, the loop's variable, which the loop then advances.
    CountedLoop(Value& counter, const Value& start, const Value& end, const Value& step = Integer(1))
        : counter_(counter), end_(end), step_(step), downward_(less_than(step, Integer(0))) {
        counter_ = start;
    }

    // Past the end means above it for a step of 0 or more, below it for a negative step.
    bool running() const { return downward_ ? !less_than(counter_, end_) : !less_than(end_, counter_); }
    void next() { counter_ = add(counter_, step_); }

  private:
    Value& counter_;
    Value end_;
    Value step_;
    bool downward_;
};

}  // namespace rt
