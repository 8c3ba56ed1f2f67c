// computer: lists, one per line, the divisors of the smaller of P and Q from K on, then shows "OK".
#include "listing.hpp"
#include "runtime.hpp"

using namespace rt;

// The listing's lines go to a numbered result file.
class ResultFile : public computer::LineSink {
  public:
    explicit ResultFile(int number) : number_(number) {}
    void write(std::string_view text) override { write_text(number_, text); }

  private:
    int number_;
};

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
        // for i = K to M: if M mod i = 0, write i. A counter that rounds to 0 divides nothing and
        // is skipped. The listing writes exactly the loop's lines without visiting every counter.
        ResultFile sol(2);
        computer::list_divisor_counters(K, M, sol);

        message_box("OK");
        end();
    }
};

int main() { return start<Form1>("computer"); }
