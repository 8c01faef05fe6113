#include "plugin/matrix_text.h"

#include <charconv>
#include <cmath>
#include <locale>
#include <sstream>
#include <system_error>

namespace vantrelo {

bool parseMatrixText(Matrix3& matrix, std::string_view text) {
    matrix = Matrix3{};
    if (text.empty() || text.front() != '[') return false;
    std::istringstream in{std::string(text.substr(1))};
    in.imbue(std::locale::classic());
    Matrix3 read;
    for (double& element : read.m) {
        // Extracted into a temporary: a value out of range fails but still stores the largest
        // double, and that element must keep its identity value.
        double value = 0;
        if (!(in >> value)) break;
        element = value;
    }
    for (const double element : read.m)
        if (!(std::fabs(element) <= kMatrixTextLimit)) return false;
    matrix = read;
    return true;
}

std::string formatMatrixText(const Matrix3& matrix) {
    std::string text = "[";
    for (const double element : matrix.m) {
        // to_chars in general format with precision 6 is "%g" in the C locale.
        char buffer[32];
        const auto result =
            std::to_chars(buffer, buffer + sizeof buffer, element, std::chars_format::general, 6);
        text += ' ';
        if (result.ec == std::errc()) text.append(buffer, result.ptr);
    }
    text += " ]";
    return text;
}

}  // namespace vantrelo
