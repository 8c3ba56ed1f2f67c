// tallage: reads point 0 and N more points, fills a table of their rounded distances, and writes
// the sum over row 0 and column 0 of that table and a listing of that row and column. Its window
// then stays open until the user closes it, showing the points and their distances from point 0.
#include <algorithm>
#include <vector>

#include "runtime.hpp"

using namespace rt;

class Form1 : public Form {
  public:
    // The window's tables, zero from its creation.
    Table16 x{"x", 100};
    Table16 y{"y", 100};
    Table16 d{"d", 4999, 4999};
    // What the window shows once Load has returned: the count of points read, and the sum.
    Value count, sum;

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
        count = N;
        sum = s;
    }

    // Form1 shows what was computed: every point read, point 0 apart, a line from point 0 to each
    // other point with their distance (the row the result lists), and what the result holds.
    void Paint(Canvas& form) override {
        Value i;
        double left = x.get(Integer(0)), right = left, bottom = y.get(Integer(0)), top = bottom;
        for (CountedLoop points(i, Integer(1), count); points.running(); points.next()) {
            left = std::min<double>(left, x.get(i)), right = std::max<double>(right, x.get(i));
            bottom = std::min<double>(bottom, y.get(i)), top = std::max<double>(top, y.get(i));
        }
        form.scale(left, top, right, bottom);  // y grows upwards, as on paper
        for (CountedLoop points(i, Integer(1), count); points.running(); points.next()) {
            form.line(x.get(Integer(0)), y.get(Integer(0)), x.get(i), y.get(i));
            form.label((x.get(Integer(0)) + 2.0 * x.get(i)) / 3.0, (y.get(Integer(0)) + 2.0 * y.get(i)) / 3.0,
                       to_text(Integer(d.get(Integer(0), i))));  // toward the point, away from point 0
        }
        for (CountedLoop points(i, Integer(0), count); points.running(); points.next())
            form.dot(x.get(i), y.get(i), equal(i, Integer(0)));
        form.note(words({Msg::ResultSummary, {"tallage.sol", grouped(9999), to_text(sum)}}));
    }

    // A screen reader hears the same: the points read, their distances from point 0, the sum.
    std::string Description() override {
        Value i, points = Integer(0);
        std::vector<Message> distances;
        for (CountedLoop each(i, Integer(0), count); each.running(); each.next()) {
            points = add(points, Integer(1));
            if (!equal(i, Integer(0))) distances.push_back(to_text(Integer(d.get(Integer(0), i))));
        }
        return words({Msg::ResultDescription, {to_text(points), {Msg::List, distances}, to_text(sum), "tallage.sol"}});
    }
};

int main() { return start<Form1>("tallage"); }
