#include "programs/vane_upgrade/cli/natural_order.h"

#include <string_view>

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

} // namespace

bool NaturalLess(const std::string& a, const std::string& b)
{
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (IsDigit(a[i]) && IsDigit(b[j])) {
            size_t endA = i, endB = j;
            while (endA < a.size() && IsDigit(a[endA])) ++endA;
            while (endB < b.size() && IsDigit(b[endB])) ++endB;
            // Compare the numbers by length first (without leading zeros), then digit by digit.
            std::string_view numA(a.data() + i, endA - i), numB(b.data() + j, endB - j);
            while (numA.size() > 1 && numA.front() == '0') numA.remove_prefix(1);
            while (numB.size() > 1 && numB.front() == '0') numB.remove_prefix(1);
            if (numA.size() != numB.size()) return numA.size() < numB.size();
            if (numA != numB) return numA < numB;
            i = endA;
            j = endB;
            continue;
        }
        if (a[i] != b[j]) return a[i] < b[j];
        ++i;
        ++j;
    }
    return a.size() - i < b.size() - j;
}
