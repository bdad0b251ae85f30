#include "io/hull.hpp"

#include <array>
#include <cmath>

#include "io/fortran.hpp"
#include "io/linefile.hpp"

namespace krel::io {

namespace {

// Whether a vertex line ends the list before its numbers are read.
bool ends_list(std::string_view line) {
    const auto first = line.find_first_not_of(' ');
    if (first == std::string_view::npos) return true;  // blank
    return line[first] == '/' || line[first] > '9';
}

}  // namespace

std::int32_t irpoly(std::int32_t nhmax, float* xh, float* yh, LineSource& src, TextOut& iout,
                    Tally& tally, double xorig, double yorig) {
    std::int64_t k = 0;
    std::string_view line;
    constexpr std::array<FieldType, 2> types{FieldType::real64, FieldType::real64};
    std::array<FieldValue, 2> v;
    while (src.next(line)) {
        line = line.substr(0, 64);
        if (ends_list(line)) break;
        OneLine one(line);
        if (read_record(one, types, v) != RecordStatus::ok) break;
        const double x = v[0].d;
        const double y = v[1].d;
        ++k;
        if (k <= nhmax) {
            xh[k] = static_cast<float>(x - xorig);
            yh[k] = static_cast<float>(y - yorig);
            iout.line(format_f(x, 12, 2) + format_f(y, 12, 2));
        }
        if (k == static_cast<std::int64_t>(nhmax) + 1) {
            const std::string text = "vertices ignored (maximum=" + format_i(nhmax, 6) + ")";
            warning(tally, text, iout);
        }
    }
    return static_cast<std::int32_t>(k < nhmax ? k : nhmax);
}

std::int32_t iipoly(const float* xh, const float* yh, std::int32_t nh, float xp, float yp) {
    float xmin = xh[1], xmax = xh[1], ymin = yh[1], ymax = yh[1];
    for (std::int32_t i = 2; i <= nh; ++i) {
        if (xh[i] < xmin) xmin = xh[i];
        if (xh[i] > xmax) xmax = xh[i];
        if (yh[i] < ymin) ymin = yh[i];
        if (yh[i] > ymax) ymax = yh[i];
    }
    if (xp < xmin || yp < ymin || xp > xmax || yp > ymax) return 0;
    float rx, ry;
    if ((xmax - xmin) > (ymax - ymin)) {
        rx = (xmin + xmax) * 0.5F;
        ry = ymin - 10.0F;
    } else {
        rx = xmin - 10.0F;
        ry = (ymin + ymax) * 0.5F;
    }
    std::int32_t crossings = 0;
    for (std::int32_t i = 1; i <= nh; ++i) {
        const std::int32_t j = i == nh ? 1 : i + 1;
        const float ax = xh[i], ay = yh[i], bx = xh[j], by = yh[j];
        const float o1 = (ax - rx) * (by - ry) - (bx - rx) * (ay - ry);
        const float o2 = (ax - xp) * (by - yp) - (bx - xp) * (ay - yp);
        if (!(o1 * o2 < 0.0F)) continue;
        const float o3 = (xp - ax) * (ry - ay) - (rx - ax) * (yp - ay);
        const float o4 = (xp - bx) * (ry - by) - (rx - bx) * (yp - by);
        if (o3 * o4 < 0.0F) ++crossings;
    }
    return crossings % 2;
}

void read_hull(const std::string& name, Hull& hull, TextOut& iout, Tally& tally) {
    LineFile file(name);
    hull.nh = irpoly(kHullCapacity, hull.xh.data(), hull.yh.data(), file, iout, tally, 0.0, 0.0);
    hull.xhmin = hull.xhmax = hull.xh[1];
    hull.yhmin = hull.yhmax = hull.yh[1];
    // NaN vertices do not widen the box (the comparisons are false for them).
    for (std::int32_t i = 2; i <= hull.nh; ++i) {
        if (hull.xh[i] < hull.xhmin) hull.xhmin = hull.xh[i];
        if (hull.xh[i] > hull.xhmax) hull.xhmax = hull.xh[i];
        if (hull.yh[i] < hull.yhmin) hull.yhmin = hull.yh[i];
        if (hull.yh[i] > hull.yhmax) hull.yhmax = hull.yh[i];
    }
}

bool inside_hull(const Hull& hull, double x, double y) {
    if (!hull.active()) return true;
    const float xf = static_cast<float>(x);
    const float yf = static_cast<float>(y);
    if (xf < hull.xhmin || xf > hull.xhmax || yf < hull.yhmin || yf > hull.yhmax) return false;
    return iipoly(hull.xh.data(), hull.yh.data(), hull.nh, xf, yf) == 1;
}

}  // namespace krel::io
