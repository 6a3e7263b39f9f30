#include "export/PageTrackLogFormat.h"

#include <ctime>
#include <vector>

#include "device/Sentence.h"
#include "export/TimeZoneRule.h"
#include "platform/Ui.h"
#include "support/UtilityManager.h"
#include "tracklog/TrackLogRecord.h"
#include "ui/StringTable.h"
#include "ui/templates/Template136.h"

using namespace dialog136;
using track_writers::TrackFormat;

namespace {

constexpr int kCaptionFiles = 300;
constexpr int kTextNoSource = 380;
constexpr int kTextConverting = 360;
constexpr int kTextConverted = 361;
constexpr unsigned kStopBox = platform::mb::kOk | platform::mb::kIconStop;

// The output check boxes, indexed by TrackFormat.
constexpr int kOutputBoxes[track_writers::kTrackFormatCount] = {kOutputText, kOutputKml, kOutputNmea, kOutputGpx};
// The hidden radios, indexed by TrackFormat.
constexpr int kFormatRadios[track_writers::kTrackFormatCount] = {kRadioText, kRadioKml, kRadioNmea, kRadioGpx};

}  // namespace

CPageTrackLogFormat::CPageTrackLogFormat()
    : CPage(res::Template136()),
      machineStandardOffset([] { return zone_rule::MachineStandardOffset(std::time(nullptr)); }) {
    using platform::notify::kClicked;
    OnNotify(kConvert, kClicked, [this] { OnButtonConvert(); });
    for (int radio : kFormatRadios) OnNotify(radio, kClicked, [this] { OnRadioFormat(); });
    OnNotify(kBrowseSource, kClicked, [this] { OnButtonBrowseSource(); });
    OnNotify(kZoneCombo, platform::notify::kSelChange, [this] { OnSelchangeComboTimeZone(); });
    for (int box : kOutputBoxes) OnNotify(box, kClicked, [this] { OnCheckFormat(); });
}

bool CPageTrackLogFormat::OnInitDialog() {
    CPage::OnInitDialog();
    LoadCaptions();
    currentFormat = static_cast<int>(TrackFormat::Kml);
    radioFormat = currentFormat;
    ShowOutputs(track_writers::kDefaultOutputs);
    for (int row = 0; row < zone_rule::kRowCount; ++row) {
        AddItem(kZoneCombo, std::string(zone_rule::RowLabel(row)));
    }
    // The filled combo starts without a selection, so a machine zone that
    // no row names shows none rather than the first row.
    SetCurSel(kZoneCombo, -1);
    InitTimeZone();
    return true;
}

void CPageTrackLogFormat::LoadCaptions() {
    SetDlgItemText(kGroupFrame, res::LoadString(353));
    SetDlgItemText(kSourceLabel, res::LoadString(354));
    SetDlgItemText(kFormatLabel, res::LoadString(357));
    SetDlgItemText(kZoneLabel, res::LoadString(355));
    SetDlgItemText(kOutputLabel, res::LoadString(356));
    SetDlgItemText(kStatusText, res::LoadString(359));
    SetDlgItemText(kConvert, res::LoadString(358));
    NameSilentControls();
}

void CPageTrackLogFormat::NameSilentControls() {
    // A field is named by its label's template caption.
    NameEmptyByTemplateCaption({kGroupFrame, kSourceLabel, kFormatLabel, kZoneLabel, kOutputLabel, kStatusText, kConvert});
    SetDlgItemAccessibleName(kSourceEdit, TemplateCaption(kSourceLabel));
    SetDlgItemAccessibleName(kBrowseSource, TemplateCaption(kSourceLabel));
    SetDlgItemAccessibleName(kZoneCombo, TemplateCaption(kZoneLabel));
}

void CPageTrackLogFormat::InitTimeZone() {
    const zone_rule::DefaultZone chosen =
        zone_rule::ChooseDefaultZone(theUtility.useSavedZone != 0, theUtility.savedZoneText, machineStandardOffset());
    if (chosen.row) SetCurSel(kZoneCombo, *chosen.row);
    zone = chosen.zone;
    theUtility.SetPhotoTimeZone(zone);
}

void CPageTrackLogFormat::ShowOutputs(const track_writers::OutputChoice& outputs) {
    for (std::size_t i = 0; i < outputs.size(); ++i) CheckDlgButton(kOutputBoxes[i], outputs[i]);
    OnCheckFormat();
}

void CPageTrackLogFormat::OnSelchangeComboTimeZone() {
    const int row = GetCurSel(kZoneCombo);
    if (row >= 0) zone = zone_rule::ZoneOfRow(row);
}

void CPageTrackLogFormat::OnCheckFormat() {
    outputText = IsDlgButtonChecked(kOutputText) ? 1 : 0;
    outputKml = IsDlgButtonChecked(kOutputKml) ? 1 : 0;
    outputNmea = IsDlgButtonChecked(kOutputNmea) ? 1 : 0;
    outputGpx = IsDlgButtonChecked(kOutputGpx) ? 1 : 0;
}

void CPageTrackLogFormat::OnRadioFormat() {
    for (int format = 0; format < track_writers::kTrackFormatCount; ++format) {
        if (IsDlgButtonChecked(kFormatRadios[format])) {
            radioFormat = format;
            currentFormat = format;
        }
    }
}

void CPageTrackLogFormat::OnButtonBrowseSource() {
    platform::FileDialogRequest request;
    request.save = false;
    request.defaultExtension = "TRL";
    request.fileName = "*.trl";
    request.filter = res::LoadString(108);
    std::string path;
    if (!platform::Ui().ChooseFile(this, request, path)) return;
    UpdateWindow();
    sourcePath_ = path;
    SetDlgItemText(kSourceEdit, path);
}

void CPageTrackLogFormat::OnButtonConvert() {
    const std::string caption = res::LoadString(kCaptionFiles);
    if (sourcePath_.empty()) {
        platform::Ui().MessageBox(this, res::LoadString(kTextNoSource), caption, kStopBox);
        return;
    }
    SetDlgItemText(kStatusText, res::LoadString(kTextConverting));
    const track_writers::OutputChoice outputs = {outputText != 0, outputKml != 0, outputNmea != 0, outputGpx != 0};
    lastResult_ = track_writers::ConvertTrackLogInZone(sourcePath_, outputs, zone);
    for (const track_writers::TrackFormatInfo& info : track_writers::kTrackFormats) {
        const std::string message =
            track_writers::FormatMessage(info.format, lastResult_.Output(info.format), lastResult_);
        if (!message.empty()) platform::Ui().MessageBox(this, message, caption, kStopBox);
    }
    SetDlgItemText(kStatusText, lastResult_.AllWritten() ? res::LoadString(kTextConverted) : std::string());
}

void CPageTrackLogFormat::DefaultAll() {
    SetCurSel(kZoneCombo, zone_rule::kUtcRow);
    zone = zone_rule::ZoneOfRow(zone_rule::kUtcRow);
    currentFormat = static_cast<int>(TrackFormat::Kml);
    radioFormat = currentFormat;
    ShowOutputs(track_writers::kDefaultOutputs);
}

bool CPageTrackLogFormat::ConvertFile(std::FILE* source, std::FILE* output) const {
    if (currentFormat < 0 || currentFormat >= track_writers::kTrackFormatCount) return false;
    std::vector<TrackLogRecord> records;
    if (!track_writers::ReadTrackRecords(source, records)) return false;
    return track_writers::WriteFormat(static_cast<TrackFormat>(currentFormat), records,
                                      track_writers::kFormatPageLineEnd, output);
}

bool CPageTrackLogFormat::WriteText(std::FILE* source, std::FILE* output) {
    return track_writers::WriteText(source, output, track_writers::kUploadLineEnd);
}

bool CPageTrackLogFormat::WriteKml(std::FILE* source, std::FILE* output) {
    return track_writers::WriteKml(source, output, track_writers::kUploadLineEnd);
}

bool CPageTrackLogFormat::WriteNmea(std::FILE* source, std::FILE* output) {
    return track_writers::WriteNmea(source, output);
}

bool CPageTrackLogFormat::WriteGpx(std::FILE* source, std::FILE* output) {
    return track_writers::WriteGpx(source, output, track_writers::kUploadLineEnd);
}

track_writers::OutputStatus CPageTrackLogFormat::WriteKml(const std::string& trlPath, const std::string& kmlPath,
                                                          int* error) {
    return track_writers::WriteTrackFile(trlPath, kmlPath, TrackFormat::Kml, track_writers::kSegmentKmlLineEnd,
                                         error);
}

std::string CPageTrackLogFormat::MakeOutputFileName(std::string_view name, int type) {
    return track_writers::MakeOutputFileName(name, type);
}

bool CPageTrackLogFormat::FormatGprmc(std::string& out, float longitude, float latitude, std::uint32_t utcTime) {
    return track_writers::FormatGprmc(out, longitude, latitude, utcTime);
}

std::uint8_t CPageTrackLogFormat::NmeaChecksum(std::string_view sentence) {
    return track_writers::NmeaChecksum(sentence);
}

std::uint8_t CPageTrackLogFormat::RecordChecksum(std::span<const std::uint8_t, kTrackLogRecordSize> record) {
    return ::RecordChecksum(record);
}

std::size_t CPageTrackLogFormat::ReverseFindChar(std::string_view text, char c, std::size_t n) {
    return track_writers::ReverseFindChar(text, c, n);
}

std::uint32_t CPageTrackLogFormat::HexToInt(std::string_view text) { return sentence::HexToInt(text); }

void CPageTrackLogFormat::ReverseRecordByteOrder(std::span<std::uint8_t, kTrackLogRecordSize> record) {
    track_writers::ReverseRecordByteOrder(record);
}
