// A scripted stand-in of the neural-network runtime for tests.
//
// The test suite builds it as a shared library whose 77 entry points come from
// qdnn_entry_points.h. Every call is recorded (name and arguments) and every
// result can be scripted. Tests reach the state through the library's one
// control function, found with dlsym on the library handle.
#ifndef XEPO_TEST_SCRIPTED_RUNTIME_H
#define XEPO_TEST_SCRIPTED_RUNTIME_H

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

struct ScriptedCall {
    std::string name;
    // Each argument as a 64-bit word: pointers by address, signed integers
    // sign-extended, unsigned ones zero-extended.
    std::vector<uint64_t> args;
    // The text of each string argument (empty for the others).
    std::vector<std::string> texts;
};

struct ScriptedRuntime {
    std::vector<ScriptedCall> calls;
    // Results by entry point, one taken per call in order. Once a list is empty
    // the default applies: a fresh non-null handle for pointer results, 0 (success)
    // for integers.
    std::map<std::string, std::deque<uint64_t>> results;
    // Counts that qdnnSessionGetNumInputs / qdnnSessionGetNumOutputs report
    // when they succeed.
    uint64_t inputCount = 1;
    uint64_t outputCount = 1;
    // Called after each call was recorded and before it returns.
    std::function<void(const ScriptedCall&)> onCall;
    // Next default handle; handles are never dereferenced.
    uint64_t nextHandle = 0x1000;

    void reset() { *this = ScriptedRuntime(); }
    void script(const std::string& name, std::initializer_list<uint64_t> values) {
        results[name].insert(results[name].end(), values);
    }
    std::vector<std::string> callNames() const {
        std::vector<std::string> names;
        for (const ScriptedCall& call : calls) {
            names.push_back(call.name);
        }
        return names;
    }
    std::vector<ScriptedCall> callsOf(const std::string& name) const {
        std::vector<ScriptedCall> matching;
        for (const ScriptedCall& call : calls) {
            if (call.name == name) {
                matching.push_back(call);
            }
        }
        return matching;
    }
};

// Name of the control function: extern "C" ScriptedRuntime* scriptedRuntimeState().
constexpr const char* kScriptedRuntimeStateSymbol = "scriptedRuntimeState";
using ScriptedRuntimeStateFunction = ScriptedRuntime* (*)();

#endif  // XEPO_TEST_SCRIPTED_RUNTIME_H
