// The recording settings of a logger that is configured with PMTK182
// sentences (the track-log setting page), below the page: the values, their
// three copies, the metre/foot conversions, Apply (only what changed),
// Default All, Read, and the page's own PMTK182 sender.
//
// Setting codes:
//
//   recording switch   1 enabled, 2 disabled
//   log mode           2 by time, 3 by distance
//   interval           seconds
//   distance           metres; feet = truncate(metres x 3.28),
//                      metres = truncate(feet x 0.3048780487804878)
//   record mode        1 record with cycle, 2 record once
//
// Defaults: enabled, by time, 10 s, 100 m, record mode 1.
//
// Sentences (framed "$" body "*" checksum CR LF):
//
//   PMTK182,10            recording on            PMTK182,11   recording off
//   PMTK182,1,1,<mode>    log mode (hex)          PMTK182,1,3,<seconds>
//   PMTK182,1,4,<metres>  distance entered in metres
//   PMTK182,1,5,<metres>  distance entered in feet (sent as metres)
//   PMTK182,1,6,<mode>    record mode
//   PMTK182,2,<item>      query; the device answers $PMTK182,3,<item>,<value>
//
// A zero argument is left out. The reply to a query starts with "$PMTK182",
// every other reply with "$PMTK001". Reply fields are read up to the "*".
//
// The values are kept three times: as loaded (from the device, the shown
// values or the defaults), as last applied (sent) and as staged (shown).
// Apply sends each staged value that differs from its applied copy and makes
// the two equal; a value sent without a reply is reported, not hidden.
//
// Threads: the model belongs to the page's user-interface thread. The sender
// may run on a worker; it shares the port with the other senders of the
// program (the port locks each read and write).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

class SentencePort;

// What a PMTK182 send gave.
struct Pmtk182Result {
    enum class Kind { kReply, kNone, kNotConnected };
    Kind kind = Kind::kNone;
    std::string reply;  // the reply text (kReply)

    bool Answered() const { return kind == Kind::kReply; }
};

// The page's sender, as the settings model uses it.
class Pmtk182Sender {
public:
    virtual ~Pmtk182Sender() = default;
    virtual Pmtk182Result SendPmtk182(int command, int arg1, int arg2) = 0;
    // One SendPmtk182 call; its result passed on.
    virtual Pmtk182Result SendPmtk182Retry(int command, int arg1, int arg2) { return SendPmtk182(command, arg1, arg2); }
};

// The track-log setting page's own PMTK182 sender, on the update page's port.
class TrackLogPmtk182Sender final : public Pmtk182Sender {
public:
    static constexpr int kPolls = 10;
    static constexpr std::uint32_t kPollMs = 100;
    static constexpr std::size_t kReplyBytes = 80;

    explicit TrackLogPmtk182Sender(SentencePort& port) : port_(port) {}

    // "$PMTK182," command, then ",a1" unless a1 is 0 and ",a2" unless a2 is 0,
    // in hex or decimal by the PMTK182 argument rule; framed.
    static std::string BuildSentence(int command, int arg1, int arg2);
    // "$PMTK182" for commands 2 and 7, else "$PMTK001".
    static std::string_view ExpectedReply(int command);

    // Marks that a command went out (sendPmtkFirst := 1). While no device is
    // linked (portLinked 0) closes an open port and gives kNotConnected.
    // Otherwise writes the sentence and polls up to 10 times, 100 ms apart,
    // reading at most 80 bytes each time; a poll whose text starts with the
    // expected tag is the reply.
    Pmtk182Result SendPmtk182(int command, int arg1, int arg2) override;

    // The last poll's bytes; always a terminated text.
    const char* ReplyBuffer() const { return replyBuffer_.data(); }

private:
    SentencePort& port_;
    std::array<char, kReplyBytes + 1> replyBuffer_{};
};

// Where the "$PMTK182" of a reply starts, when it starts within its first 20
// characters.
std::optional<std::size_t> FindPmtk182(std::string_view reply);
// The field `skip` characters after the "$PMTK182" of a reply, up to the "*"
// (or the line end, or the end of the text). None without "$PMTK182" or
// when the field would start past the text.
std::optional<std::string> ExtractPmtk182Field(std::string_view reply, std::size_t skip);

// The page's status texts. The failure texts are this program's own: a
// read-out, a Read or a Clear that failed never shows a success text.
namespace tracklogtext {
inline constexpr const char* kWaiting = "Waiting for Starting...";
inline constexpr const char* kUpdating = "Update Setting...";
inline constexpr const char* kReadDone = "Update Setting Successfully.";
inline constexpr const char* kUploading = "Uploading...";
inline constexpr const char* kUploadDone = "Upload Successfully. Please power off and then power on device.";
inline constexpr const char* kUploadFailed = "Upload Failed.";
inline constexpr const char* kOutputFailed = "Cannot create the output file.";
// The read-out ended but its file could not be written or put in place.
inline constexpr const char* kOutputWriteFailed = "Cannot write the output file.";
inline constexpr const char* kClearDone = "Clear Successfully. Please power off and then power on device.";
inline constexpr const char* kClearFailed = "Clear Failed.";
}  // namespace tracklogtext

// The save dialog of Upload by output mode (0 ".trl", 1 ".txt", 2 ".kml"):
// default extension, initial name and filter ("text|pattern|").
struct TrackLogSaveChoice {
    const char* extension;
    const char* initialName;
    const char* filter;
};
TrackLogSaveChoice SaveChoiceForOutput(int outputMode);

class TrackLogSettings {
public:
    static constexpr int kEnabled = 1;
    static constexpr int kDisabled = 2;
    static constexpr int kLogByTime = 2;
    static constexpr int kLogByDistance = 3;
    static constexpr int kRecordCycle = 1;
    static constexpr int kRecordOnce = 2;

    static constexpr int kDefaultInterval = 10;
    static constexpr int kDefaultDistance = 100;

    // Commands and items.
    static constexpr int kCommandSet = 1;
    static constexpr int kCommandQuery = 2;
    static constexpr int kCommandLogOn = 10;
    static constexpr int kCommandLogOff = 11;
    static constexpr int kItemLogMode = 1;
    static constexpr int kItemInterval = 3;
    static constexpr int kItemDistanceMetres = 4;
    static constexpr int kItemDistanceFeet = 5;
    static constexpr int kItemRecordMode = 6;
    // A query reply's value field, counted from the "$" of "$PMTK182".
    static constexpr std::size_t kValueFieldOffset = 13;
    // The largest value Read takes from a reply: a distance in metres whose
    // feet (x 3.28) still fit an int. A larger one is a bad reply.
    static constexpr int kMaxReplyValue = 654720624;
    // Sends of the recording switch before it gives up (each polls 1 s).
    static constexpr int kLoggingTries = 5;

    // The distances kept: a whole number whose other unit fits an int too,
    // so from -kMaxDistanceMetres to kMaxDistanceMetres metres and from
    // -kMaxDistanceFeet to kMaxDistanceFeet feet. A larger one, typed, read
    // or sent, is refused.
    static constexpr int kMaxDistanceMetres = kMaxReplyValue;  // x 3.28 = 2147483646.7
    static constexpr int kMaxDistanceFeet = 2147483646;

    // truncate(metres x 3.28); truncate(feet x 0.3048780487804878). Values
    // beyond the limits above count as the limit.
    static int MetresToFeet(int metres);
    static int FeetToMetres(int feet);
    // The distance in an edit's text (leading blanks, a sign, digits; no
    // digits is 0) in metres or in feet; nothing when it is beyond the limit.
    static std::optional<int> DistanceFromText(const std::string& text, bool feet);

    // The page's dialog initialisation: the defaults loaded, and staged and
    // applied values set from them.
    TrackLogSettings();

    // LoadSettings source 0: the 11-byte settings reply (switch, log mode,
    // interval 32-bit LE, distance 32-bit LE, record mode); false when fewer
    // than 11 bytes came. Source 1: the staged values. Source 2: the defaults.
    bool LoadFromDeviceReply(std::span<const std::uint8_t> reply);
    void LoadFromStaged();
    void LoadDefaults();

    // Handlers of the page's controls. The recording switch goes to the
    // device at once (command 10 or 11); false when the device gave no reply.
    bool SetRecording(bool enabled, Pmtk182Sender& sender);
    void SetLogMode(int logMode) { stagedLogMode = logMode; }
    void SetRecordMode(int recordMode) { stagedRecordMode = recordMode; }
    // The Meter / Foot radios, with the text of the distance edit. The value
    // is converted only when the unit really changes; the returned text is
    // what the edit shows then. A distance beyond the limit is refused: the
    // unit stays, and the text is the staged distance in it.
    std::string SelectMeter(const std::string& distanceText);
    std::string SelectFoot(const std::string& distanceText);
    // What the controls show.
    std::string IntervalText() const;
    std::string DistanceText() const;
    const char* UnitLabel() const { return distanceInFeet ? "Foot" : "Meter"; }

    // Page command 2: sends, through SendPmtk182Retry, each staged value that
    // differs from its applied copy (texts of the interval and distance
    // edits), in the order switch, log mode, interval, distance, record mode.
    // True when every sentence sent was answered (and when nothing was sent);
    // false too when the distance was beyond the limit (it is not sent, and
    // the staged distance stays).
    bool ApplyAll(const std::string& intervalText, const std::string& distanceText, Pmtk182Sender& sender);
    // Page command 3: staged values back to the defaults (shown in metres);
    // the recording switch goes to the device as on. True when it was
    // answered.
    bool DefaultAll(Pmtk182Sender& sender);

    enum class ReadResult { kOk, kNotConnected, kNoReply, kBadReply };
    // Button Read: queries record mode, interval and distance (a value that
    // is no whole number, or beyond its limit, is a bad reply); on success
    // every copy takes them (log mode by time when the interval is not 0),
    // recording is switched on and kOk returned. On any failure nothing
    // changes.
    ReadResult ReadDeviceSettings(Pmtk182Sender& sender);
    // Status texts of Read.
    static const char* ReadStatusText(ReadResult result);

    // Command 10 (on) or 11 (off), sent again while no reply comes, at most
    // kLoggingTries times; stops at a reply or at "Not Connected".
    static Pmtk182Result SetDeviceLogging(bool on, Pmtk182Sender& sender);

    int loadedEnable = kEnabled;
    int loadedLogMode = kLogByTime;
    int loadedInterval = kDefaultInterval;
    int loadedDistance = kDefaultDistance;
    int loadedRecordMode = kRecordCycle;

    int appliedEnable = kEnabled;
    int appliedLogMode = kLogByTime;
    int appliedInterval = kDefaultInterval;
    int appliedDistanceMetres = kDefaultDistance;
    int appliedDistanceFeet = 0;
    int appliedRecordMode = kRecordCycle;

    int stagedEnable = kEnabled;
    int stagedLogMode = kLogByTime;
    int stagedInterval = kDefaultInterval;
    int stagedDistanceMetres = kDefaultDistance;
    int stagedDistanceFeet = 0;
    int stagedRecordMode = kRecordCycle;

    int distanceInFeet = 0;
};
