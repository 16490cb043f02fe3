// Context lifecycle: configuration defaults, handles, registration.
#include <opencv2/core.hpp>

#include "tavkit_test_support.h"

namespace {

using tavkit_test::freshParams;

TEST(TavkitContext, ConfigDefaultsHoldTheWordsTheEngineWrites) {
    TavkitConfig config;
    std::fill(std::begin(config.words), std::end(config.words), 77);
    ASSERT_EQ(initTavkitConfig(&config), 0);
    EXPECT_EQ(config.words[0], 0);
    EXPECT_EQ(config.words[1], -1);
    EXPECT_EQ(config.words[3], 5);
    EXPECT_EQ(config.words[7], 1);
    EXPECT_EQ(config.words[15], 0);
}

TEST(TavkitContext, ParamsAreResetToHarmlessDefaults) {
    TavkitParams params;
    std::memset(&params, 0xAB, sizeof(params));
    ASSERT_EQ(initTavkitParams(&params), 0);
    EXPECT_EQ(params.src.plane0, nullptr);
    EXPECT_EQ(params.dst.width, 0u);
    EXPECT_EQ(params.code, 0u);
    EXPECT_EQ(params.normParam1, 0.0f);
    EXPECT_EQ(params.normParam2, 1.0f);
    EXPECT_EQ(params.histChannels, 0u);
}

TEST(TavkitContext, HandleLifecycleAndRegistration) {
    TavkitConfig config;
    initTavkitConfig(&config);
    int64_t handle = 0;
    ASSERT_EQ(initTavkit(&handle, &config), 0);
    ASSERT_NE(handle, 0);
    int64_t other = 0;
    ASSERT_EQ(initTavkit(&other, &config), 0);
    EXPECT_NE(other, handle);

    // Registered only: 27 and 48 run and do nothing; an unregistered one fails.
    TavkitParams params = freshParams();
    EXPECT_EQ(runTavkit(handle, kTavkitReserved27, &params), kTavkitErrNotRegistered);
    ASSERT_EQ(registTavkitOperator(handle, kTavkitReserved27), 0);
    ASSERT_EQ(registTavkitOperator(handle, kTavkitReserved27), 0);  // twice is fine
    EXPECT_EQ(runTavkit(handle, kTavkitReserved27, &params), 0);
    EXPECT_EQ(runTavkit(handle, kTavkitReserved48, &params), kTavkitErrNotRegistered);

    // Registration belongs to one context.
    EXPECT_EQ(runTavkit(other, kTavkitReserved27, &params), kTavkitErrNotRegistered);

    const int64_t released = handle;
    ASSERT_EQ(releaseTavkit(&handle), 0);
    EXPECT_EQ(handle, 0);
    EXPECT_EQ(runTavkit(released, kTavkitReserved27, &params), kTavkitErrBadHandle);
    EXPECT_EQ(registTavkitOperator(released, kTavkitFlip), kTavkitErrBadHandle);
    int64_t again = released;
    EXPECT_EQ(releaseTavkit(&again), kTavkitErrBadHandle);
    EXPECT_EQ(releaseTavkit(&other), 0);
}

TEST(TavkitContext, RefusesNullsUnknownIdsAndMadeUpHandles) {
    TavkitConfig config;
    initTavkitConfig(&config);
    int64_t handle = 0;
    EXPECT_EQ(initTavkitConfig(nullptr), kTavkitErrNullArgument);
    EXPECT_EQ(initTavkit(nullptr, &config), kTavkitErrNullArgument);
    EXPECT_EQ(initTavkit(&handle, nullptr), kTavkitErrNullArgument);
    EXPECT_EQ(initTavkitParams(nullptr), kTavkitErrNullArgument);
    EXPECT_EQ(releaseTavkit(nullptr), kTavkitErrNullArgument);

    config.words[0] = 3;  // a backend this build does not have
    EXPECT_EQ(initTavkit(&handle, &config), kTavkitErrBadConfig);
    EXPECT_EQ(handle, 0);

    tavkit_test::Context context;
    for (int32_t id : {-1, 0, 1, 4, 20, 52, 54, 64, 1000}) {
        EXPECT_EQ(registTavkitOperator(context.handle(), id), kTavkitErrUnknownOperator) << id;
        TavkitParams params = freshParams();
        EXPECT_EQ(context.run(id, params), kTavkitErrUnknownOperator) << id;
    }
    EXPECT_EQ(runTavkit(context.handle(), kTavkitFlip, nullptr), kTavkitErrNullArgument);
    TavkitParams params = freshParams();
    for (int64_t bogus : {int64_t{0}, int64_t{1}, context.handle() + 1,
                          static_cast<int64_t>(reinterpret_cast<intptr_t>(&params))}) {
        EXPECT_EQ(runTavkit(bogus, kTavkitFlip, &params), kTavkitErrBadHandle) << bogus;
        EXPECT_EQ(registTavkitOperator(bogus, kTavkitFlip), kTavkitErrBadHandle) << bogus;
    }
}

}  // namespace
