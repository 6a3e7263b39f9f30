#include "support/UtilityManager.h"

CUtilityManager theUtility;

int tabCount = 0;
std::atomic<int> portLinked{0};
std::atomic<CPageDeviceSetting*> devicePageInstance{nullptr};
std::atomic<CPageDownloadFW*> downloadPageInstance{nullptr};

CUtilityManager::CUtilityManager() = default;
CUtilityManager::~CUtilityManager() = default;

void CUtilityManager::SetPort(const std::string& name, int baud, int handle) {
    std::lock_guard lock(mutex_);
    comPort = name;
    baudRate = baud;
    portHandle = handle;
}

void CUtilityManager::GetPort(std::string& name, int& baud, int& handle) const {
    std::lock_guard lock(mutex_);
    name = comPort;
    baud = baudRate;
    handle = portHandle;
}

void CUtilityManager::SetPhotoTimeZone(int hours) {
    std::lock_guard lock(mutex_);
    photoTimeZone = hours;
}

void CUtilityManager::GetPhotoTimeZone(int& hours) const {
    std::lock_guard lock(mutex_);
    hours = photoTimeZone;
}

void CUtilityManager::SetCalibration(int days, int hours, int minutes, int seconds) {
    std::lock_guard lock(mutex_);
    calibDays = days;
    calibHours = hours;
    calibMinutes = minutes;
    calibSeconds = seconds;
}

void CUtilityManager::GetCalibration(int& days, int& hours, int& minutes, int& seconds) const {
    std::lock_guard lock(mutex_);
    days = calibDays;
    hours = calibHours;
    minutes = calibMinutes;
    seconds = calibSeconds;
}

void CUtilityManager::SetWriteGpsInPhoto(bool write) {
    std::lock_guard lock(mutex_);
    writeGpsInPhoto = write;
}

void CUtilityManager::GetWriteGpsInPhoto(bool& write) const {
    std::lock_guard lock(mutex_);
    write = writeGpsInPhoto;
}

std::string CUtilityManager::GetUserName() const {
    std::lock_guard lock(mutex_);
    return deviceUserName;
}

void CUtilityManager::SetUserName(const std::string& name) {
    std::lock_guard lock(mutex_);
    deviceUserName = name;
}

void EnableDialogTheme(void*) {}
