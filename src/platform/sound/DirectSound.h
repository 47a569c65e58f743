// Our DirectSound 8: the interfaces under their DirectSound names, holding
// only the calls the sound code makes, over a software mixer of our own.
//
// A device owns one output: SDL2 audio for play, or a null output whose
// clock only moves when a test advances it (platform::dsound::advance), so
// that cursors and mixed samples are deterministic. Secondary buffers are
// rings of PCM data (8 or 16 bits, mono or stereo, any rate up to
// kMaxBufferRate) read by the mixer at their own rate and resampled linearly
// to the output rate, with a gain of 10^(mB/2000) (DSBVOLUME_MIN silent) and
// a pan. A 3D buffer is mixed down to mono, panned with equal power by the
// source's direction in the listener's frame and attenuated by the inverse
// distance law with the listener's roll-off factor between the buffer's
// minimum and maximum distance. Cones, velocities and Doppler are not
// simulated (their parameters are kept and read back).
//
// Cursors: the play cursor moves by what the output consumed; while a
// buffer plays the write cursor runs kWriteMarginMilliseconds of the
// buffer's own data ahead of it (equal to it while stopped). A non-looping
// buffer stops at its end and rewinds to 0; a looping one wraps.
//
// Threads: every call may come from any thread. Each takes the mixer's own
// short lock, which is all the output's thread ever takes, so no caller can
// starve the output by holding a lock of the engine. The spans a Lock gives
// point into the buffer's ring itself; the caller writes only where the
// play cursor is not.
//
// A refused call answers its result code and writes one line saying why to
// the message sink of the environment, never to the engine's log.
#pragma once

#include "platform/d3d9/D3D9Types.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <vector>

using LONG = std::int32_t;
using D3DVALUE = float;

// Result codes (fixed values: the published DirectSound ones).
constexpr HRESULT DS_OK = 0;
constexpr HRESULT DSERR_ALLOCATED = makeResult(0x8878000A);
constexpr HRESULT DSERR_CONTROLUNAVAIL = makeResult(0x8878001E);
constexpr HRESULT DSERR_INVALIDPARAM = makeResult(0x80070057);
constexpr HRESULT DSERR_INVALIDCALL = makeResult(0x88780032);
constexpr HRESULT DSERR_GENERIC = makeResult(0x80004005);
constexpr HRESULT DSERR_OUTOFMEMORY = makeResult(0x8007000E);
constexpr HRESULT DSERR_BADFORMAT = makeResult(0x88780064);
constexpr HRESULT DSERR_UNSUPPORTED = makeResult(0x80004001);
constexpr HRESULT DSERR_NODRIVER = makeResult(0x88780078);
constexpr HRESULT DSERR_NOAGGREGATION = makeResult(0x80040110);
constexpr HRESULT DSERR_BUFFERLOST = makeResult(0x88780096);
constexpr HRESULT DSERR_UNINITIALIZED = makeResult(0x887800AA);
constexpr HRESULT DSERR_NOINTERFACE = makeResult(0x80004002);
constexpr HRESULT DSERR_BUFFERTOOSMALL = makeResult(0x887800B4);
constexpr HRESULT DSERR_DS8_REQUIRED = makeResult(0x887800BE);

// Device capability flags (DSCAPS::dwFlags).
constexpr DWORD DSCAPS_PRIMARYMONO = 0x00000001;
constexpr DWORD DSCAPS_PRIMARYSTEREO = 0x00000002;
constexpr DWORD DSCAPS_PRIMARY8BIT = 0x00000004;
constexpr DWORD DSCAPS_PRIMARY16BIT = 0x00000008;
constexpr DWORD DSCAPS_CONTINUOUSRATE = 0x00000010;
constexpr DWORD DSCAPS_EMULDRIVER = 0x00000020;
constexpr DWORD DSCAPS_SECONDARYMONO = 0x00000100;
constexpr DWORD DSCAPS_SECONDARYSTEREO = 0x00000200;
constexpr DWORD DSCAPS_SECONDARY8BIT = 0x00000400;
constexpr DWORD DSCAPS_SECONDARY16BIT = 0x00000800;

// Buffer capability flags (DSBUFFERDESC::dwFlags).
constexpr DWORD DSBCAPS_PRIMARYBUFFER = 0x00000001;
constexpr DWORD DSBCAPS_STATIC = 0x00000002;
constexpr DWORD DSBCAPS_LOCHARDWARE = 0x00000004;
constexpr DWORD DSBCAPS_LOCSOFTWARE = 0x00000008;
constexpr DWORD DSBCAPS_CTRL3D = 0x00000010;
constexpr DWORD DSBCAPS_CTRLFREQUENCY = 0x00000020;
constexpr DWORD DSBCAPS_CTRLPAN = 0x00000040;
constexpr DWORD DSBCAPS_CTRLVOLUME = 0x00000080;
constexpr DWORD DSBCAPS_GLOBALFOCUS = 0x00008000;
constexpr DWORD DSBCAPS_GETCURRENTPOSITION2 = 0x00010000;
constexpr DWORD DSBCAPS_MUTE3DATMAXDISTANCE = 0x00020000;

// Play flags, status bits, lock flags.
constexpr DWORD DSBPLAY_LOOPING = 0x00000001;
constexpr DWORD DSBSTATUS_PLAYING = 0x00000001;
constexpr DWORD DSBSTATUS_BUFFERLOST = 0x00000002;
constexpr DWORD DSBSTATUS_LOOPING = 0x00000004;
constexpr DWORD DSBLOCK_FROMWRITECURSOR = 0x00000001;
constexpr DWORD DSBLOCK_ENTIREBUFFER = 0x00000002;

// Cooperative levels.
constexpr DWORD DSSCL_NORMAL = 1;
constexpr DWORD DSSCL_PRIORITY = 2;
constexpr DWORD DSSCL_EXCLUSIVE = 3;
constexpr DWORD DSSCL_WRITEPRIMARY = 4;

// Ranges.
constexpr LONG DSBVOLUME_MIN = -10000;
constexpr LONG DSBVOLUME_MAX = 0;
constexpr LONG DSBPAN_LEFT = -10000;
constexpr LONG DSBPAN_RIGHT = 10000;
constexpr DWORD DSBFREQUENCY_ORIGINAL = 0;

// 3D: when a setting applies, and the processing modes.
constexpr DWORD DS3D_IMMEDIATE = 0;
constexpr DWORD DS3D_DEFERRED = 1;
constexpr DWORD DS3DMODE_NORMAL = 0;
constexpr DWORD DS3DMODE_HEADRELATIVE = 1;
constexpr DWORD DS3DMODE_DISABLE = 2;

// The 3D algorithm of a buffer description. Ours are numbers, not GUIDs:
// the mixer treats both alike.
constexpr DWORD DS3DALG_DEFAULT = 0;
constexpr DWORD DS3DALG_NO_VIRTUALIZATION = 1;

constexpr WORD WAVE_FORMAT_PCM = 1;

// Limits of our mixer for a secondary buffer (bad descriptions come from
// decoded files and are refused with DSERR_INVALIDPARAM).
constexpr DWORD kMaxBufferBytes = 16u << 20;
constexpr DWORD kMinBufferRate = 100;
constexpr DWORD kMaxBufferRate = 192000;
// The write cursor's lead over the play cursor of a playing buffer.
constexpr DWORD kWriteMarginMilliseconds = 10;

struct WAVEFORMATEX {
    WORD wFormatTag;
    WORD nChannels;
    DWORD nSamplesPerSec;
    DWORD nAvgBytesPerSec;
    WORD nBlockAlign;
    WORD wBitsPerSample;
    WORD cbSize;
};

struct DSBUFFERDESC {
    DWORD dwSize;
    DWORD dwFlags;
    DWORD dwBufferBytes;
    DWORD dwReserved;
    const WAVEFORMATEX* lpwfxFormat;
    DWORD guid3DAlgorithm;
};

// 24 words, 96 bytes.
struct DSCAPS {
    DWORD dwSize;
    DWORD dwFlags;
    DWORD dwMinSecondarySampleRate;
    DWORD dwMaxSecondarySampleRate;
    DWORD dwPrimaryBuffers;
    DWORD dwMaxHwMixingAllBuffers;
    DWORD dwMaxHwMixingStaticBuffers;
    DWORD dwMaxHwMixingStreamingBuffers;
    DWORD dwFreeHwMixingAllBuffers;
    DWORD dwFreeHwMixingStaticBuffers;
    DWORD dwFreeHwMixingStreamingBuffers;
    DWORD dwMaxHw3DAllBuffers;
    DWORD dwMaxHw3DStaticBuffers;
    DWORD dwMaxHw3DStreamingBuffers;
    DWORD dwFreeHw3DAllBuffers;
    DWORD dwFreeHw3DStaticBuffers;
    DWORD dwFreeHw3DStreamingBuffers;
    DWORD dwTotalHwMemBytes;
    DWORD dwFreeHwMemBytes;
    DWORD dwMaxContigFreeHwMemBytes;
    DWORD dwUnlockTransferRateHwBuffers;
    DWORD dwPlayCpuOverheadSwBuffers;
    DWORD dwReserved1;
    DWORD dwReserved2;
};
static_assert(sizeof(DSCAPS) == 96, "the capability record is 96 bytes");

// 64 bytes, fields in this order: save games store the buffer record.
struct DS3DBUFFER {
    DWORD dwSize;
    D3DVECTOR vPosition;
    D3DVECTOR vVelocity;
    DWORD dwInsideConeAngle;
    DWORD dwOutsideConeAngle;
    D3DVECTOR vConeOrientation;
    LONG lConeOutsideVolume;
    D3DVALUE flMinDistance;
    D3DVALUE flMaxDistance;
    DWORD dwMode;
};
static_assert(sizeof(DS3DBUFFER) == 64, "the 3D buffer record is 64 bytes");

struct DS3DLISTENER {
    DWORD dwSize;
    D3DVECTOR vPosition;
    D3DVECTOR vVelocity;
    D3DVECTOR vOrientFront;
    D3DVECTOR vOrientTop;
    D3DVALUE flDistanceFactor;
    D3DVALUE flRolloffFactor;
    D3DVALUE flDopplerFactor;
};
static_assert(sizeof(DS3DLISTENER) == 64, "the listener record is 64 bytes");

// What QueryInterface can be asked for.
enum SoundInterfaceId { IID_IDirectSound3DListener = 1, IID_IDirectSound3DBuffer = 2 };

// Reference counted as COM objects are: Release at zero frees.
class IDirectSoundUnknown {
public:
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;

protected:
    virtual ~IDirectSoundUnknown() = default;
};

class IDirectSound3DListener : public IDirectSoundUnknown {
public:
    virtual HRESULT GetAllParameters(DS3DLISTENER* parameters) = 0;
    virtual HRESULT SetAllParameters(const DS3DLISTENER* parameters, DWORD apply) = 0;
    // Applies the deferred listener and 3D buffer settings at once.
    virtual HRESULT CommitDeferredSettings() = 0;
};

class IDirectSound3DBuffer : public IDirectSoundUnknown {
public:
    virtual HRESULT GetAllParameters(DS3DBUFFER* parameters) = 0;
    virtual HRESULT SetAllParameters(const DS3DBUFFER* parameters, DWORD apply) = 0;
};

class IDirectSoundBuffer : public IDirectSoundUnknown {
public:
    virtual HRESULT GetStatus(DWORD* status) = 0;
    virtual HRESULT Play(DWORD reserved, DWORD priority, DWORD flags) = 0;
    virtual HRESULT Stop() = 0;
    virtual HRESULT GetCurrentPosition(DWORD* playCursor, DWORD* writeCursor) = 0;
    virtual HRESULT SetCurrentPosition(DWORD position) = 0;
    // Up to two spans: the second is the part that wrapped to the start.
    virtual HRESULT Lock(DWORD offset, DWORD bytes, void** part1, DWORD* bytes1, void** part2, DWORD* bytes2,
                         DWORD flags) = 0;
    virtual HRESULT Unlock(void* part1, DWORD bytes1, void* part2, DWORD bytes2) = 0;
    // Hundredths of a decibel, DSBVOLUME_MIN..DSBVOLUME_MAX.
    virtual HRESULT SetVolume(LONG volume) = 0;
    virtual HRESULT GetVolume(LONG* volume) = 0;
    virtual HRESULT SetPan(LONG pan) = 0;
    virtual HRESULT SetFrequency(DWORD frequency) = 0;
    virtual HRESULT GetFrequency(DWORD* frequency) = 0;
    virtual HRESULT Restore() = 0;
    // The primary buffer only: the output's format.
    virtual HRESULT SetFormat(const WAVEFORMATEX* format) = 0;
    virtual HRESULT GetFormat(WAVEFORMATEX* format, DWORD size, DWORD* written) = 0;
    // The 3D buffer of a DSBCAPS_CTRL3D buffer, or the listener of the
    // primary buffer, AddRef'ed.
    virtual HRESULT QueryInterface(SoundInterfaceId id, void** object) = 0;
};

class IDirectSound8 : public IDirectSoundUnknown {
public:
    virtual HRESULT GetCaps(DSCAPS* caps) = 0;
    virtual HRESULT SetCooperativeLevel(HWND window, DWORD level) = 0;
    virtual HRESULT CreateSoundBuffer(const DSBUFFERDESC* description, IDirectSoundBuffer** buffer,
                                      void* outer) = 0;
    // A new buffer over the same data with cursors, volume and 3D settings
    // of its own.
    virtual HRESULT DuplicateSoundBuffer(IDirectSoundBuffer* original, IDirectSoundBuffer** duplicate) = 0;
};

// The entry point: device is null (the default device), outer must be null.
// Fails with DSERR_NODRIVER when the output cannot open.
HRESULT DirectSoundCreate8(const void* device, IDirectSound8** sound, void* outer);

namespace platform::dsound {

using MessageSink = std::function<void(const char* line)>;

enum class OutputKind { Null, Sdl };

// Failures injected for tests.
struct FaultPlan {
    // DirectSoundCreate8 answers this instead of creating (DS_OK: creates).
    HRESULT createResult = DS_OK;
    // Cooperative levels SetCooperativeLevel refuses with DSERR_ALLOCATED.
    std::set<DWORD> refusedLevels;
    // GetCaps reports this maximum secondary rate (0: the mixer's own).
    DWORD maxSecondaryRate = 0;
    // The nth buffer creation (1 = the next; primary, secondary and
    // duplicates alike) answers result.
    void failCreation(int nth, HRESULT result = DSERR_OUTOFMEMORY) { failures[creations + nth] = result; }
    HRESULT nextCreation() {
        const auto found = failures.find(++creations);
        return found == failures.end() ? DS_OK : found->second;
    }
    int creations = 0;
    std::map<int, HRESULT> failures;
};

struct Environment {
    OutputKind output = OutputKind::Sdl;
    MessageSink sink;                   // null: lines are dropped
    std::shared_ptr<FaultPlan> faults;  // null: no injected faults
};

// The environment DirectSoundCreate8 builds its devices in.
void setEnvironment(Environment environment);
const Environment& environment();

// The null output's clock: mixes the given time at the output's rate and
// moves every cursor by it. The mixed samples (interleaved, the output's
// channels) are appended to mixed when given. False for a device of another
// output. The time is carried in frames, so steps of any size add up exactly.
bool advance(IDirectSound8* device, std::uint32_t milliseconds, std::vector<std::int16_t>* mixed = nullptr);
// Mixes frames output frames (the benchmark's road; any output).
bool mix(IDirectSound8* device, std::uint32_t frames, std::int16_t* out);
// The buffer is lost: Lock, Play and SetCurrentPosition answer
// DSERR_BUFFERLOST and it is silent until Restore.
void loseBuffer(IDirectSoundBuffer* buffer);

}  // namespace platform::dsound
