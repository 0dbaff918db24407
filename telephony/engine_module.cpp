// The engine's module, loaded by the program at its first sipx* call (or
// earlier, on a worker thread): the engine and liblinphone's libraries stay
// out of the program's start-up.
#include "telephony/engine.h"

extern "C" __attribute__((visibility("default"))) velkor::tel::SipxApi* velkor_engine_api()
{
    return &velkor::tel::linphoneEngine();
}
