// The engine the frame and image fuzzers drive: created once per process from
// the default models, and kept for every input (its per-frame state carries
// over, as it does on a camera).
#ifndef XEPO_FUZZ_ENGINE_FIXTURE_H
#define XEPO_FUZZ_ENGINE_FIXTURE_H

// The live engine; aborts the process when it cannot be created, since every
// input would then only exercise the refusal path.
void* fuzzEngine();

#endif  // XEPO_FUZZ_ENGINE_FIXTURE_H
