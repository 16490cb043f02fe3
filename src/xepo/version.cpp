// getAeVersion: the engine's version line.
#include "xepo.h"
#include "xepo_log.h"

XEPO_API int getAeVersion() {
    return XEPO_LOGD("XEPO SDK version: v3.2.1, build_time: 2026-8-10");
}
