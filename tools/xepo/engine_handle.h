// The engine as the tool holds it: a parameter handle naming one model
// directory and the engine created from it, released in reverse order.
#ifndef XEPO_TOOL_ENGINE_HANDLE_H
#define XEPO_TOOL_ENGINE_HANDLE_H

#include <string>

// The engine logs the end of its release at error priority although nothing
// failed; the tool shows it only with --verbose.
constexpr const char* kEngineReleaseNotice = "release AeEngine completed";

class EngineHandle {
  public:
    EngineHandle() = default;
    EngineHandle(const EngineHandle&) = delete;
    EngineHandle& operator=(const EngineHandle&) = delete;
    ~EngineHandle();

    // Creates the engine from the four model files of `dir`. False with a
    // message when the directory or its models cannot be loaded.
    bool open(std::string dir, std::string& error);

    void* get() const { return engine; }

  private:
    void* handle = nullptr;
    void* engine = nullptr;
};

#endif  // XEPO_TOOL_ENGINE_HANDLE_H
