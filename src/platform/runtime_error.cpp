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

double RoundHalfEvenWhole(double value)
{
    // remainder() rounds its quotient to the nearest, halves to even, by definition, and is
    // exact, as is the subtraction: the rounding mode plays no part.
    return value - std::remainder(value, 1.0);
}

int32_t RoundHalfEven(double value)
{
    if (!std::isfinite(value))
        throw RuntimeError(ErrorNumber::Overflow, "value is not a finite number");
    const double r = RoundHalfEvenWhole(value);
    if (r < double(std::numeric_limits<int32_t>::min())
        || r > double(std::numeric_limits<int32_t>::max()))
        throw RuntimeError(ErrorNumber::Overflow, "value out of the 32-bit range");
    return int32_t(r);
}

} // namespace platform
