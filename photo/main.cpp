// photo: the size, in thousands of bytes, of a picture B by C centimetres sampled at D dots
// per inch, stored with as many bits per dot as the smallest power of two above A.
#include "runtime.hpp"

using namespace rt;

class Form1 : public Form {
  public:
    void Load() override {
        Value A, B, C, D, W, H, X, R;

        open_input(1, "PHOTO.DAT");
        input(1, A, B, C, D);

        W = multiply(divide(B, Double(2.54)), D);  // the sides in dots
        H = multiply(divide(C, Double(2.54)), D);

        X = Integer(1);  // the smallest power of two above A
        while (!less_than(A, X)) X = multiply(X, Integer(2));

        R = divide(divide(multiply(multiply(W, H), X), Integer(8)), Integer(1000));

        open_output(2, "photo.sol");
        print_line(2, R);
        close(2);
        close(1);
        end();
    }
};

int main() { return start<Form1>("photo"); }
