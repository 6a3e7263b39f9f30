// What a page may ask of the main window that holds it. The main window
// implements it; a page finds it as its parent's parent when it is created
// (CPage::host) and never includes the main window itself. Every call is made
// on the UI thread (workers hand theirs to the UI thread first), except the
// two KML conversions, which touch no window and run on the caller's thread.
#pragma once

#include <string>

class CommandEngine;
class SerialLink;

class PageHost {
public:
    // Groups of the main window's buttons, by what they are locked for.
    enum class MainButtons {
        OkAndAbout,    // OK and About: locked while Connect or an update runs
        PageCommands,  // Default All, OK, Cancel and Apply All: locked while Write Name runs
        All,           // Default All, OK, About, Cancel and Apply All
    };

    // The device command engine (the logger settings page); null before the
    // pages exist.
    virtual CommandEngine* Engine() const = 0;
    // The update page's serial port, through which every page talks.
    virtual SerialLink* DevicePort() const = 0;
    // Starts or stops (and joins) the tick thread.
    virtual void SetTickThread(bool run) = 0;
    // Shows the banner of the model code in the settings object.
    virtual void UpdateBanner() = 0;
    virtual void EnableMainButtons(MainButtons buttons, bool enable) = 0;
    // Marks the update page's tab enabled again after an update.
    virtual void EnableDeviceTab() = 0;
    // Enables the firmware page's Download button.
    virtual void EnableFirmwareDownload() = 0;
    // Dispatches queued window messages inside a long operation.
    virtual void PumpMessages() = 0;
    virtual void SelectTab(int n) = 0;
    virtual void ShowCurrentTab() = 0;
    // Shows the logger's free record count in the update page's memory-usage
    // field.
    virtual void ShowMemoryUsage(const std::string& text) = 0;
    // Locks (or unlocks) what must not be used while the log upload runs:
    // the update page's tab, the buttons Default All, OK, Cancel and Apply
    // All, and the update page's Connect and Write Name.
    virtual void LockForLogUpload(bool lock) = 0;
    // Disconnects the logger as the update page does ($ORVIK731,2, port
    // closed); the user connects again there.
    virtual void DisconnectLogger() = 0;
    // The format page's KML writer for a .trl file; false when the file could
    // not be converted or no writer is present.
    virtual bool WriteKml(const std::string& trlPath, const std::string& kmlPath) = 0;
    // The photo page's KML with photo links; false as WriteKml.
    virtual bool ConvertWithPhotos(const std::string& trlPath, const std::string& kmlPath,
                                   const std::string& photoFolder) = 0;

protected:
    ~PageHost() = default;
};
