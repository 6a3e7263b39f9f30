// The program's one settings and shared-state object. It lives in memory for
// the length of a run; nothing is read or written to disk for it.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

class CPageDeviceSetting;
class CPageDownloadFW;

class CUtilityManager {
public:
    CUtilityManager();
    virtual ~CUtilityManager();
    CUtilityManager(const CUtilityManager&) = delete;
    CUtilityManager& operator=(const CUtilityManager&) = delete;

    // Flags and numbers that threads share are atomic; the texts are guarded
    // by a lock and reached through the accessors below.
    std::atomic<int> sendPmtkFirst{0};
    std::atomic<int> modelType{0};
    std::atomic<std::int64_t> connectTime{0};
    std::atomic<int> tickThreadEnded{0};
    signed char mainTabIndex = 0;
    signed char devicePageTabIndex = 0;
    int forceTabRefresh = 0;
    std::atomic<int> highSpeedLink{0};
    std::atomic<int> logIntervalSent{0};
    std::atomic<int> logDistanceSent{0};
    std::atomic<int> recordModeSent{0};
    std::atomic<int> logEndAddress{0};
    int readWholeLog = 0;
    std::atomic<int> logByModeSent{0};
    int logByCommandEnabled = 0;
    std::atomic<int> freeRecordCount{0};
    const std::string savedZoneText;  // never written: always empty
    int useSavedZone = 0;
    std::atomic<int> zoneInitialised{0};
    std::atomic<int> photoZoneReset{0};
    int useFeet = 0;

    void SetPort(const std::string& name, int baud, int handle);
    void GetPort(std::string& name, int& baud, int& handle) const;
    void SetPhotoTimeZone(int hours);
    void GetPhotoTimeZone(int& hours) const;
    void SetCalibration(int days, int hours, int minutes, int seconds);
    void GetCalibration(int& days, int& hours, int& minutes, int& seconds) const;
    void SetWriteGpsInPhoto(bool write);
    void GetWriteGpsInPhoto(bool& write) const;
    std::string GetUserName() const;
    void SetUserName(const std::string& name);

private:
    mutable std::mutex mutex_;
    std::string deviceUserName;
    int photoTimeZone = 0;
    int calibDays = 0;
    int calibHours = 0;
    int calibMinutes = 0;
    int calibSeconds = 0;
    bool writeGpsInPhoto = false;
    std::string comPort = "COM1";
    int baudRate = 0;
    int portHandle = 0;
};

// The one instance, built before the main window exists.
extern CUtilityManager theUtility;

// Process-wide values beside the settings object.
extern int tabCount;
extern std::atomic<int> portLinked;
extern std::atomic<CPageDeviceSetting*> devicePageInstance;
extern std::atomic<CPageDownloadFW*> downloadPageInstance;

// Pages call this where they are set up to ask for themed tab-page
// backgrounds. The Qt style already draws page backgrounds to match the tab
// control, so there is nothing to enable.
void EnableDialogTheme(void* window);
