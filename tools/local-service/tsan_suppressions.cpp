// Thread sanitizer builds: reports inside PulseAudio, which the engine's media
// library loads to look for sound cards, are not ours (it is not built for the
// sanitizer and its threads synchronise in ways the sanitizer cannot see).
// Linked into the programs and tests of the local service.
extern "C" const char* __tsan_default_suppressions()
{
    return "race:libpulsecommon\n"
           "race:libpulse.so\n";
}
