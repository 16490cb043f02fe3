// Checks of option values that several commands share, so that a value is
// read the same way and refused with the same words everywhere.
#ifndef XEPO_TOOL_CLI_VALUES_H
#define XEPO_TOOL_CLI_VALUES_H

#include <CLI/CLI.hpp>
#include <string>

// Range of a lux index (larger = darker); no camera reports more.
constexpr double kMinLuxIndex = 0.0;
constexpr double kMaxLuxIndex = 10000.0;

// A finite decimal number as the whole value; "abc", "1x", "nan" and "inf" are
// refused as not a number before any range check sees them.
CLI::Validator numberCheck();
// A whole decimal number, negative too when `allowNegative`.
CLI::Validator wholeNumberCheck(bool allowNegative);

// Reads a lux index: a finite number in kMinLuxIndex..kMaxLuxIndex. False with
// `error` set to the message every command shows.
bool parseLuxIndex(const std::string& text, double& lux, std::string& error);
// The same as a validator; with `allowAuto` the word "auto" passes too.
CLI::Validator luxCheck(bool allowAuto);

#endif  // XEPO_TOOL_CLI_VALUES_H
