// An executable without the engine linked in (the program) loads the engine's
// module at its first sipx* call and gets a working engine from it.
#include "telephony/sipx.h"
#include "tests/support/free_port.h"

#include <gtest/gtest.h>

using velkor::test::freeUdpPort;

TEST(EngineModule, LoadedAtTheFirstCallAndWorking)
{
    SIPX_INST instance = 0;
    ASSERT_EQ(sipxInitialize(&instance, freeUdpPort(), -1, -1, freeUdpPort(), 64, "module", "127.0.0.1", 0),
              SIPX_RESULT_SUCCESS);
    SIPX_LINE line = 0;
    EXPECT_EQ(sipxLineAdd(instance, "sip:7001@127.0.0.1:5999", &line, 0), SIPX_RESULT_SUCCESS);
    EXPECT_NE(line, 0u);
    EXPECT_EQ(sipxUnInitialize(instance, 1), SIPX_RESULT_SUCCESS);
}
