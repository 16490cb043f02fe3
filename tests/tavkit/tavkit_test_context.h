// An image-operator context with every operator the tests use registered,
// released at scope end.
#ifndef XEPO_TEST_TAVKIT_CONTEXT_H
#define XEPO_TEST_TAVKIT_CONTEXT_H

#include <gtest/gtest.h>

#include "tavkit_api.h"

struct TavkitTestContext {
    int64_t handle = 0;
    TavkitTestContext() {
        TavkitConfig config;
        initTavkitConfig(&config);
        EXPECT_EQ(initTavkit(&handle, &config), 0);
        for (int32_t id : {2, 3, 14, 19, 21, 27, 47, 48, 50, 53}) {
            EXPECT_EQ(registTavkitOperator(handle, id), 0) << id;
        }
    }
    ~TavkitTestContext() { releaseTavkit(&handle); }
    TavkitTestContext(const TavkitTestContext&) = delete;
    TavkitTestContext& operator=(const TavkitTestContext&) = delete;
    int run(int32_t id, TavkitParams& params) const { return runTavkit(handle, id, &params); }
};

#endif  // XEPO_TEST_TAVKIT_CONTEXT_H
