#include "runtime_error.h"

#include <cmath>
#include <limits>

namespace platform {

std::string DescribeError(ErrorNumber number)
{
    const char* text = "Application-defined error";
    switch (number) {
    case ErrorNumber::InvalidProcedureCall:
        text = "Invalid procedure call or argument";
        break;
    case ErrorNumber::Overflow:
        text = "Overflow";
        break;
    case ErrorNumber::OutOfMemory:
        text = "Out of memory";
        break;
    case ErrorNumber::SubscriptOutOfRange:
        text = "Subscript out of range";
        break;
    case ErrorNumber::DivisionByZero:
        text = "Division by zero";
        break;
    }
    return "Run-time error '" + std::to_string(static_cast<int>(number)) + "': " + text;
}

RuntimeError::RuntimeError(ErrorNumber number, const std::string& detail)
    : std::runtime_error(detail.empty() ? DescribeError(number)
                                        : DescribeError(number) + " (" + detail + ")")
    , m_number(number)
{
}

int32_t RoundHalfEven(double value)
{
    if (!std::isfinite(value))
        throw RuntimeError(ErrorNumber::Overflow, "value is not a finite number");
    // Done by hand rather than with nearbyint, which follows whatever rounding mode is set.
    double r = std::floor(value);
    const double diff = value - r;
    if (diff > 0.5 || (diff == 0.5 && std::fmod(r, 2.0) != 0.0))
        r += 1.0;
    if (r < double(std::numeric_limits<int32_t>::min())
        || r > double(std::numeric_limits<int32_t>::max()))
        throw RuntimeError(ErrorNumber::Overflow, "value out of the 32-bit range");
    return int32_t(r);
}

} // namespace platform
