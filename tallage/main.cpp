// tallage: reads point 0 and N more points, fills a table of their rounded distances, and writes
// the sum over row 0 and column 0 of that table and a listing of that row and column. Its window
// then stays open until the user closes it.
#include "runtime.hpp"

using namespace rt;

class Form1 : public Form {
  public:
    // The window's tables, zero from its creation.
    Table16 x{"x", 100};
    Table16 y{"y", 100};
    Table16 d{"d", 4999, 4999};

    void Load() override {
        Value N, x0, y0, i, j, s;

        open_input(1, "tallage.dat");
        input(1, N, x0, y0);
        x.at(Integer(0)) = to_16bit(x0);
        y.at(Integer(0)) = to_16bit(y0);

        for (CountedLoop points(i, Integer(1), N); points.running(); points.next()) {
            std::int16_t& yi = y.at(i);
            std::int16_t& xi = x.at(i);
            input(1, xi, yi);
        }

        // The distance pass covers the points read, point 0 included.
        for (CountedLoop rows(i, Integer(0), N); rows.running(); rows.next()) {
            for (CountedLoop columns(j, Integer(0), N); columns.running(); columns.next()) {
                std::int16_t& xi = x.at(i);
                std::int16_t& xj = x.at(j);
                std::int16_t& yi = y.at(i);
                std::int16_t& yj = y.at(j);
                std::int16_t& dij = d.at(i, j);
                double dx2 = power(subtract_16bit(xi, xj), 2.0);
                double dy2 = power(subtract_16bit(yi, yj), 2.0);
                dij = double_to_16bit(square_root(dx2 + dy2));
            }
        }

        open_output(2, "tallage.sol");

        s = Value();
        for (CountedLoop entries(i, Integer(0), Integer(4999)); entries.running(); entries.next())
            s = add(add(s, Integer(d.get(Integer(0), i))), Integer(d.get(i, Integer(0))));
        print_line(2, s);

        for (CountedLoop entries(i, Integer(1), Integer(4999)); entries.running(); entries.next()) {
            print_line(2, "0", " ", d.get(Integer(0), i));
            print_line(2, "0", " ", d.get(i, Integer(0)));
        }
    }
};

int main() { return start<Form1>("tallage"); }
