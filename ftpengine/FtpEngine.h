#pragma once

// The FTP engine's contract: blocking calls, each returning a signed 32-bit code. Negative is a failure
// whose text fceErrorText gives; zero or positive is a success or a count. No Qt, no exceptions across
// this boundary. Channels run from 0 to one less than fceAttach's count; each is one FTP connection with
// its own directories and error texts, and each may be driven by a thread of its own (one thread per
// channel at a time). fceAttach, fceRelease and the settings of fceSetString's trace belong to one thread.

#include <cstdint>
#include <string>
#include <vector>

// Parameters of fceGetInteger / fceSetInteger / fceGetString / fceSetString.
enum FceParameter : int32_t {
    FCE_REPLACE_LOCAL = 6,       // set: before each transfer, allow replacing an existing local file
    FCE_CONNECT_TIMEOUT_MS = 11, // set: longest wait for the TCP connection and for the greeting, in ms
    FCE_PASSIVE = 12,            // set: 1 = passive data connections (the only kind)
    FCE_DESCRIPTION = 16,        // get string: one line naming the engine, its version and its TLS library
    FCE_VERSION = 20,            // get integer: version, hex digits read as major, minor, patch (0x100)
    FCE_TRACE_FILE = 20,         // set string: the protocol trace file ("KAVREL.LOG")
    FCE_SILENCE_MS = 21,         // set: longest silence (no whole reply, no data moving) a call waits, in ms;
                                 // 60000 until set
    FCE_INTERRUPT_DUE = 22,      // get: 1 while an interrupt asked for by fceInterrupt is in force, else 0
    FCE_LOW_SPEED_BYTES = 23, // set: the fewest bytes a transfer or listing must move in each FCE_SILENCE_MS;
                              // fewer fails it as stalled (FCE_E_TIMEOUT). 0: no such limit; 4096 until set
    FCE_ABANDON_GRACE_MS = 24, // set: after a transfer failed (more bytes than listed, a local write error),
                               // the longest wait for the server's reply before the connection is dropped,
                               // in ms (at most FCE_SILENCE_MS); 3000 until set
    // FTPS. The host logs "Connected with " + FCE_TLS_STATUS, or that the server does not offer TLS.
    FCE_TLS_STATUS = 30, // get string: after connect, e.g. "TLS 1.3 (TLS_AES_256_GCM_SHA384)"; "" when plain
    FCE_PEER_FINGERPRINT = 31, // get string: "SHA256:AB:CD:..." (uppercase hex, colon-separated) of the last
                               // certificate the server presented (also after a failed connect)
    FCE_PEER_SUBJECT = 32,     // get string: one-line distinguished name of that certificate's subject
    FCE_PEER_ISSUER = 33,      // get string: one-line distinguished name of its issuer
    FCE_PEER_VALIDITY = 34,    // get string: e.g. "2026-12-07 03:00:00 UTC to 2027-12-07 03:00:00 UTC"
    FCE_TRUSTED_FINGERPRINT = 35, // set string before fceConnect: the fingerprint the administrator trusts
                                  // for this server ("" = none)
    FCE_SERVER_ADDRESS = 36,      // get string: "host:port" of the last fceConnect as its server text named
                                  // them ("[v6 address]:port"); "" before the first
};

// Failure codes. Each failure also records its own text, read back with fceErrorText.
enum FceError : int32_t {
    FCE_E_NOT_ATTACHED = -1,           // fceAttach has not been called, or fceRelease has
    FCE_E_BAD_ARGUMENT = -2,           // a channel other than 0, an unknown parameter, a null pointer
    FCE_E_NOT_CONNECTED = -3,          // no control connection (never connected, closed, or dropped)
    FCE_E_RESOLVE = -4,                // the host name could not be resolved
    FCE_E_CONNECT = -5,                // the TCP connection was refused or failed
    FCE_E_TIMEOUT = -6,                // no reply or no data within the set silence, or too little data
    FCE_E_CONNECTION_LOST = -7,        // the server closed the control connection (421 or end of stream)
    FCE_E_SERVER_REPLY = -8,           // the server refused a command; the text is its reply line
    FCE_E_LOGIN = -9,                  // the server refused the user or the password
    FCE_E_DATA_CONNECTION = -10,       // the data connection could not be made or ended abnormally
    FCE_E_LOCAL_FILE = -11,            // a local file or folder could not be read, written or renamed
    FCE_E_UNSAFE_NAME = -12,           // a name that is not one plain path component
    FCE_E_INCOMPLETE = -13,            // a listing marked incomplete, or a file shorter/longer than listed
    FCE_E_BUFFER_TOO_SMALL = -14,      // the caller's buffer cannot hold the whole result
    FCE_E_PROTOCOL = -15,              // a reply that makes no sense (bad EPSV/PASV answer, garbage)
    FCE_E_TLS = -16,                   // TLS refused or failed (AUTH TLS, handshake, PBSZ/PROT)
    FCE_E_UNTRUSTED_CERTIFICATE = -17, // the certificate neither verifies nor matches the trusted
                                       // fingerprint; nothing was sent after the handshake
    FCE_E_INTERRUPTED = -18,           // the host interrupted the call (fceInterrupt)
};

// Where a listed modification time came from, which says how far it can be trusted. LIST times are the
// server's local time in an unknown zone; they are kept as if they were UTC.
enum class FceTimeSource : int32_t {
    None = 0,            // the listing gave no time: the file must count as changed
    MlsdUtc = 1,         // MLSD "modify=20261206201907": seconds, UTC
    UnixListMinutes = 2, // Unix LIST "Dec 06 20:19": minutes, year inferred from the listing's date
    UnixListDays = 3,    // Unix LIST "Jan 02  2024" (older files): days
    DosListMinutes = 4,  // DOS/IIS LIST "12-06-26  08:19PM": minutes
};

// The width in seconds of one step of a time source (0 for None).
int32_t fceTimePrecision(FceTimeSource source);

// One entry of a listing as the server gave it.
struct FceListEntry {
    std::string name;
    bool isDirectory = false;
    int64_t size = -1;      // bytes, or -1 when the listing did not say
    int64_t listedTime = 0; // seconds since 1970-01-01 of the listed time read as UTC; 0 without one
    FceTimeSource timeSource = FceTimeSource::None;
};

// Bytes a file transfer has moved so far; called from inside fceGetFile/fcePutFile at most every
// 100 ms while data moves, so that a host can repaint or draw progress. Never re-enter the engine.
using FceProgressHook = void (*)(void* context, int64_t bytesSoFar);

int32_t fceAttach(int32_t channels);
int32_t fceRelease();

int32_t fceGetInteger(int32_t channel, int32_t parameter);
int32_t fceSetInteger(int32_t channel, int32_t parameter, int32_t value);
int32_t fceGetString(int32_t channel, int32_t parameter, char* buffer, int32_t size);
int32_t fceSetString(int32_t channel, int32_t parameter, const char* value);

// server: "host", "host:port" or "[v6 address]:port", optionally after "ftp://" (clear text only),
// "ftpes://" (explicit TLS required) or "ftps://" (implicit TLS, port 990 when absent); port 21 when
// absent otherwise. Without a scheme TLS is used when the server accepts AUTH TLS.
int32_t fceConnect(int32_t channel, const char* server, const char* user, const char* password);
// Connects channel to the server that channel model is connected to, with its user, password, trusted
// fingerprint and time limits, in binary mode. Under TLS it resumes model's TLS session where the server
// allows it, requires TLS, and refuses any other certificate than model's (FCE_E_UNTRUSTED_CERTIFICATE).
// model must be connected and idle.
int32_t fceConnectAs(int32_t channel, int32_t model);
int32_t fceSetMode(int32_t channel, int32_t mode); // 'B' (66): binary
int32_t fceClose(int32_t channel);

// The text of a failure code, cut to the buffer; returns the count of characters placed.
int32_t fceErrorText(int32_t channel, int32_t code, char* buffer, int32_t size);

// The current server directory as list text: one entry per line, each ended by CR LF, directory names
// with a trailing "/". Returns the text's length. The listing is complete or the call fails.
int32_t fceGetList(int32_t channel, int32_t kind, char* buffer, int32_t size);
// The same listing into a text that grows to hold all of it.
int32_t fceGetList(int32_t channel, int32_t kind, std::string& listing);
// The same listing as entries, in the server's order, with each file's listed size and time; returns
// how many there are. askedAt is the local clock (seconds since 1970, UTC) that gives a Unix LIST's recent
// dates their year; -1 reads the clock.
int32_t fceGetList(int32_t channel, int32_t kind, std::vector<FceListEntry>& entries, int64_t askedAt = -1);

int32_t fceSetLocalDir(int32_t channel, const char* absolutePath);
// The local directory as a folder the caller has opened (the engine keeps its own duplicate), so that
// no later rename or link swapped into the path can redirect the files; shownPath names it in texts.
int32_t fceSetLocalDirAt(int32_t channel, int folder, const char* shownPath);
int32_t fceSetServerDir(int32_t channel, const char* name); // "\" for the root, else one name
// The directory below the root whose names path gives, separated by "\" ("PMT\A"; "" is the root), in one
// round trip. Every name must be one plain component. A server that takes no whole path refuses it like
// a missing directory: walk the names with fceSetServerDir then.
int32_t fceSetServerPath(int32_t channel, const char* path);
int32_t fceMakeServerDir(int32_t channel, const char* name);
int32_t fceGetFile(int32_t channel, const char* name);
// fceGetFile held to size bytes, the caller's newer word on the file (a second listing, SIZE) in place of
// the last listing's; size < 0 is fceGetFile.
int32_t fceGetFileExpecting(int32_t channel, const char* name, int64_t size);
// The server's SIZE of a file in the current server directory into size: -1 when the server cannot say
// (SIZE not offered, or refused). Negative only when the call itself failed (connection, name).
int32_t fceGetFileSize(int32_t channel, const char* name, int64_t& size);
int32_t fcePutFile(int32_t channel, const char* name);

int32_t fceSetProgressHook(int32_t channel, FceProgressHook hook, void* context);

// Makes the call in progress, and every later call that waits on the network, fail with
// FCE_E_INTERRUPTED: afterMs milliseconds from now (0: at once; an earlier moment already set stays),
// until afterMs < 0 withdraws it (fceRelease does too). Every wait looks at it at least every 100 ms.
// Safe from a signal handler, another thread or a progress hook; it touches nothing else.
int32_t fceInterrupt(int32_t channel, int32_t afterMs);

// A received file is written beside its final name as kFcePartialPrefix + kFcePartialRandomDigits hex
// digits, a name whose length does not depend on the file's, and renamed into place only when
// complete. Uploads skip nothing themselves; the transfers never offer such a file.
inline constexpr const char* kFcePartialPrefix = ".kavrel-part-";
inline constexpr int kFcePartialRandomDigits = 8;
