// The SIP user-agent API the program is written against: instances, lines,
// calls, conferences, audio settings and an event listener. Every function
// returns SIPX_RESULT_SUCCESS (0) on success. Handles are 32-bit, 0 = none.
// Texts (identities, addresses, device names, file paths, event texts) are
// GBK byte strings.
//
// Which implementation serves these functions is chosen at run time (see
// telephony/sipx_api.h): the liblinphone engine by default, a fake in tests.
#pragma once

#include <cstddef>
#include <cstdint>

extern "C" {

typedef uint32_t SIPX_INST;
typedef uint32_t SIPX_LINE;
typedef uint32_t SIPX_CALL;
typedef uint32_t SIPX_CONF;

typedef int32_t SIPX_RESULT;
enum : int32_t {
    SIPX_RESULT_SUCCESS = 0,
    SIPX_RESULT_FAILURE = 1,         // the operation could not be carried out
    SIPX_RESULT_INVALID_ARGS = 2,    // a null out pointer or an unparsable value
    SIPX_RESULT_INVALID_HANDLE = 3,  // the handle names nothing (or 0)
    SIPX_RESULT_BUFFER_TOO_SMALL = 4,
};

// Options passed with every outgoing call and conference leg.
struct SIPX_CALL_OPTIONS {
    uint32_t size;            // sizeof(SIPX_CALL_OPTIONS): 24
    int32_t sendLocation;     // 1
    int32_t contactType;      // 1
    int32_t takeFocus;        // 1
    int32_t bandwidth;        // 1
    int32_t reserved;         // 0
};
static_assert(sizeof(SIPX_CALL_OPTIONS) == 24);

// ---- events -----------------------------------------------------------------

typedef int32_t SIPX_EVENT_CATEGORY;
enum : int32_t {
    SIPX_EVENT_CALLSTATE = 0,
    SIPX_EVENT_LINESTATE = 1,
    SIPX_EVENT_TEXT = 9,
    SIPX_EVENT_DTMF = 10,
};

// Call-state codes (category 0).
enum : int32_t {
    SIPX_CALLSTATE_INCOMING = 1000,      // a call from a far end arrived (sipxCallAnswer/sipxCallReject)
    SIPX_CALLSTATE_ALERTING = 3000,      // the far end is ringing
    SIPX_CALLSTATE_CONNECTED = 4000,     // the far end answered
    SIPX_CALLSTATE_DISCONNECTED = 8000,  // the call ended (hang-up, refusal, failure)
};

// Line-state codes (category 1).
enum : int32_t {
    SIPX_LINESTATE_REGISTERING = 20000,
    SIPX_LINESTATE_REGISTERED = 21000,
    SIPX_LINESTATE_UNREGISTERED = 23000,
    SIPX_LINESTATE_REGISTER_FAILED = 24000,
};

// Category 0 record: call handle at byte offset 4, code at offset 12.
struct SIPX_CALLSTATE_INFO {
    uint32_t size;
    SIPX_CALL call;
    SIPX_LINE line;
    int32_t event;
    int32_t cause;       // SIP status of a refusal/failure, else 0
};
static_assert(offsetof(SIPX_CALLSTATE_INFO, call) == 4);
static_assert(offsetof(SIPX_CALLSTATE_INFO, event) == 12);

// Category 1 record: code at offset 12.
struct SIPX_LINESTATE_INFO {
    uint32_t size;
    SIPX_LINE line;
    uint32_t reserved;
    int32_t event;
    int32_t cause;       // SIP status of a refusal, else 0
};
static_assert(offsetof(SIPX_LINESTATE_INFO, event) == 12);

// Category 9 record: a text for the user. A pointer does not fit the 32-bit
// field at offset 12 on a 64-bit build, so offset 12 holds the text's length
// in bytes and the (NUL-terminated) text pointer follows at offset 16. The
// text lives only while the listener runs.
struct SIPX_TEXT_INFO {
    uint32_t size;
    SIPX_LINE line;
    uint32_t reserved;
    uint32_t length;
    const char* text;
};
static_assert(offsetof(SIPX_TEXT_INFO, length) == 12);
static_assert(offsetof(SIPX_TEXT_INFO, text) == 16);

// Category 10 record: a telephone event (RFC 2833) the far end sent on a call.
struct SIPX_DTMF_INFO {
    uint32_t size;
    SIPX_CALL call;
    SIPX_LINE line;
    int32_t tone;        // 0-9 digits, 10 '*', 11 '#', 12-15 'A'-'D'
    char digit;          // the same as a character
};
static_assert(offsetof(SIPX_DTMF_INFO, tone) == 12);

// Called on the engine's thread for every event of the instance; the record
// is valid only during the call. The result is ignored.
typedef bool (*SIPX_EVENT_CALLBACK)(SIPX_EVENT_CATEGORY category, void* info, void* userData);

// ---- instance and configuration -------------------------------------------------

SIPX_RESULT sipxInitialize(SIPX_INST* instance, int sipUdpPort, int sipTcpPort, int sipTlsPort,
                           int rtpPortStart, int maxConnections, const char* identity,
                           const char* bindAddress, int sequentialPorts);
SIPX_RESULT sipxUnInitialize(SIPX_INST instance, int force);

SIPX_RESULT sipxConfigSetUserAgentName(SIPX_INST instance, const char* name, int includePlatform);
SIPX_RESULT sipxConfigEnableRport(SIPX_INST instance, int enable);
// type 3: a SIP OPTIONS request to host:port every intervalSecs seconds.
SIPX_RESULT sipxConfigKeepAliveAdd(SIPX_INST instance, int contactId, int type, const char* host,
                                   int port, int intervalSecs);
SIPX_RESULT sipxConfigSetAudioCodecPreferences(SIPX_INST instance, int bandwidth);
// mode 2: tones go out as RFC 2833 telephone events.
SIPX_RESULT sipxConfigSetOutboundDTMFMode(SIPX_INST instance, int mode);

SIPX_RESULT sipxEventListenerAdd(SIPX_INST instance, SIPX_EVENT_CALLBACK listener, void* userData);
SIPX_RESULT sipxEventListenerRemove(SIPX_INST instance, SIPX_EVENT_CALLBACK listener, void* userData);

// ---- lines --------------------------------------------------------------------

SIPX_RESULT sipxLineAdd(SIPX_INST instance, const char* identity, SIPX_LINE* line, int contactId);
SIPX_RESULT sipxLineAddCredential(SIPX_LINE line, const char* user, const char* password,
                                  const char* realm);
SIPX_RESULT sipxLineRegister(SIPX_LINE line, int doRegister);

// ---- calls --------------------------------------------------------------------

SIPX_RESULT sipxCallCreate(SIPX_INST instance, SIPX_LINE line, SIPX_CALL* call);
SIPX_RESULT sipxCallConnect(SIPX_CALL call, const char* address, int contactId, const void* display,
                            int takeFocus, const SIPX_CALL_OPTIONS* options, const char* callId);
SIPX_RESULT sipxCallHold(SIPX_CALL call, int stopRemoteAudio);
// Ends the call (BYE/CANCEL as its state needs) and sets *call to 0.
SIPX_RESULT sipxCallDestroy(SIPX_CALL* call);
// tone 0-9 digits, 10 '*', 11 '#'.
SIPX_RESULT sipxCallStartTone(SIPX_CALL call, int tone, int local, int remote);
SIPX_RESULT sipxCallStopTone(SIPX_CALL call);
SIPX_RESULT sipxCallAudioRecordFileStart(SIPX_CALL call, const char* path);
SIPX_RESULT sipxCallAudioRecordFileStop(SIPX_CALL call);

// Incoming calls (category 0, code 1000): the engine tells the caller it
// rings (180) at once; answer with 200 OK, or refuse with a SIP status of 400
// to 699 (486 busy here, 603 decline, ...).
SIPX_RESULT sipxCallAnswer(SIPX_CALL call);
SIPX_RESULT sipxCallReject(SIPX_CALL call, int statusCode);
// The addresses of a call ("sip:user@host:port", GBK): for an incoming call
// the remote one is the caller's (From) and the local one the called (To).
// Copies at most maxLength bytes including the NUL;
// SIPX_RESULT_BUFFER_TOO_SMALL when the address did not fit.
SIPX_RESULT sipxCallGetRemoteID(SIPX_CALL call, char* id, size_t maxLength);
SIPX_RESULT sipxCallGetLocalID(SIPX_CALL call, char* id, size_t maxLength);

// ---- conferences --------------------------------------------------------------

SIPX_RESULT sipxConferenceCreate(SIPX_INST instance, SIPX_CONF* conference);
SIPX_RESULT sipxConferenceHold(SIPX_CONF conference, int bridging);
SIPX_RESULT sipxConferenceUnhold(SIPX_CONF conference);
SIPX_RESULT sipxConferenceAdd(SIPX_CONF conference, SIPX_LINE line, const char* address,
                              SIPX_CALL* call, int takeFocus, const void* display,
                              const void* security, int sendLocation,
                              const SIPX_CALL_OPTIONS* options);
// Ends the conference (any call still in it ends too) and releases its handle.
SIPX_RESULT sipxConferenceDestroy(SIPX_CONF conference);

// ---- audio --------------------------------------------------------------------

// level 0-100 (98 is the program's default); a level below 0 is taken as 0.
SIPX_RESULT sipxAudioSetInputVolume(SIPX_INST instance, int level);
SIPX_RESULT sipxAudioMuteInput(SIPX_INST instance, int mute);
SIPX_RESULT sipxAudioMuteOutput(SIPX_INST instance, int mute);
SIPX_RESULT sipxAudioSetAGCMode(SIPX_INST instance, int mode);
SIPX_RESULT sipxAudioSetNoiseReductionMode(SIPX_INST instance, int mode);
// mode 2 full echo cancellation, 0 off.
SIPX_RESULT sipxAudioSetAECMode(SIPX_INST instance, int mode);
SIPX_RESULT sipxAudioSetInputDevice(SIPX_INST instance, const char* name, int flags);
SIPX_RESULT sipxAudioSetOutputDevice(SIPX_INST instance, const char* name, int flags);
// Level of the sound of the calls, 0 (silence or muted) to 100.
SIPX_RESULT sipxAudioGetInputEnergy(SIPX_INST instance, int channel, double* energy);
SIPX_RESULT sipxAudioGetOutputEnergy(SIPX_INST instance, int channel, double* energy);

// Device lists, in the order the windows show them. The names are those
// sipxAudioSetInputDevice/sipxAudioSetOutputDevice accept.
SIPX_RESULT sipxAudioGetNumInputDevices(SIPX_INST instance, int* count);
SIPX_RESULT sipxAudioGetNumOutputDevices(SIPX_INST instance, int* count);
// Copies the NUL-terminated name into buffer; *size: in the buffer's capacity,
// out the bytes needed including the NUL (SIPX_RESULT_BUFFER_TOO_SMALL if it
// did not fit).
SIPX_RESULT sipxAudioGetInputDeviceName(SIPX_INST instance, int index, char* buffer, size_t* size);
SIPX_RESULT sipxAudioGetOutputDeviceName(SIPX_INST instance, int index, char* buffer, size_t* size);

} // extern "C"
