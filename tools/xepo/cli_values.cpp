#include "cli_values.h"

#include <cctype>
#include <cmath>
#include <cstdlib>

namespace {

std::string inQuotes(const std::string& text) {
    return "'" + text + "'";
}

// strtod over the whole text, with nothing before or after the number.
bool readNumber(const std::string& text, double& value) {
    if (text.empty() || std::isspace(static_cast<unsigned char>(text.front())) != 0) {
        return false;
    }
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return end == text.c_str() + text.size();
}

}  // namespace

CLI::Validator numberCheck() {
    return CLI::Validator(
        [](std::string& text) -> std::string {
            double value = 0.0;
            if (!readNumber(text, value)) {
                return inQuotes(text) + " is not a number";
            }
            if (!std::isfinite(value)) {
                return inQuotes(text) + " is not a finite number";
            }
            return {};
        },
        "NUMBER");
}

CLI::Validator wholeNumberCheck(bool allowNegative) {
    return CLI::Validator(
        [allowNegative](std::string& text) -> std::string {
            size_t start = allowNegative && !text.empty() && text.front() == '-' ? 1 : 0;
            bool digits = text.size() > start;
            for (size_t i = start; i < text.size(); ++i) {
                digits = digits && std::isdigit(static_cast<unsigned char>(text[i])) != 0;
            }
            if (digits) {
                return {};
            }
            double value = 0.0;
            if (!readNumber(text, value)) {
                return inQuotes(text) + " is not a number";
            }
            return inQuotes(text) + (allowNegative ? " is not a whole number"
                                                   : " is not a whole number of at least 0");
        },
        allowNegative ? "INT" : "UINT");
}

bool parseLuxIndex(const std::string& text, double& lux, std::string& error) {
    double value = 0.0;
    if (!readNumber(text, value) || !std::isfinite(value) || value < kMinLuxIndex ||
        value > kMaxLuxIndex) {
        char range[64];
        std::snprintf(range, sizeof range, "%g..%g", kMinLuxIndex, kMaxLuxIndex);
        error = inQuotes(text) + " is not a lux index: expected a finite number " + range;
        return false;
    }
    lux = value;
    return true;
}

CLI::Validator luxCheck(bool allowAuto) {
    return CLI::Validator(
        [allowAuto](std::string& text) -> std::string {
            if (allowAuto && text == "auto") {
                return {};
            }
            double lux = 0.0;
            std::string error;
            return parseLuxIndex(text, lux, error) ? std::string() : error;
        },
        allowAuto ? "auto|LUX" : "LUX");
}
