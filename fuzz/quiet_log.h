// The engine logs every failure it handles; during fuzzing that is millions of
// lines. This drops them unless XEPO_FUZZ_LOG is set in the environment.
#ifndef XEPO_FUZZ_QUIET_LOG_H
#define XEPO_FUZZ_QUIET_LOG_H

void quietEngineLog();

#endif  // XEPO_FUZZ_QUIET_LOG_H
