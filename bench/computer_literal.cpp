// computer with the literal loop in place of the fast listing: the baseline of the benchmark.
#include "literal_loop.hpp"
#include "runtime.hpp"

using namespace rt;

class Form1 : public Form {
  public:
    void Load() override {
        Value P, Q, K, M;
        open_input(1, "computer.dat");
        input(1, P, Q, K);
        if (equal(K, Integer(0))) K = Integer(1);
        if (less_than(Q, P)) {
            M = Q;
        } else {
            M = P;
        }
        open_output(2, "computer.sol");
        reference::literal_divisor_loop(K, M, [](const std::string& line) { write_text(2, line); });
        message_box("OK");
        end();
    }
};

int main() { return start<Form1>("computer_literal"); }
