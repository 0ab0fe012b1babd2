// The settings store over QSettings.
#include "Settings.h"

#include <QSettings>
#include <QString>
#include <algorithm>
#include <cctype>
#include <climits>
#include <thread>

namespace {

QString Key(const char* section, const char* entry) {
    return QString::fromUtf8(section) + QLatin1Char('/') + QString::fromUtf8(entry);
}

} // namespace

namespace Settings {

CString GetProfileString(const char* section, const char* entry, const char* defaultValue) {
    QSettings store(QSettings::NativeFormat, QSettings::UserScope, "Quorvik", "Orvane");
    const QVariant value = store.value(Key(section, entry));
    if (!value.isValid())
        return CString(defaultValue ? defaultValue : "");
    return value.toString().toStdString();
}

void WriteProfileString(const char* section, const char* entry, const CString& value) {
    QSettings store(QSettings::NativeFormat, QSettings::UserScope, "Quorvik", "Orvane");
    store.setValue(Key(section, entry), QString::fromStdString(value));
    store.sync();
}

CString FilePath() {
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, "Quorvik", "Orvane")
        .fileName()
        .toStdString();
}

int TextToInt(const CString& text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n' ||
                               text[i] == '\r' || text[i] == '\v' || text[i] == '\f'))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    long long value = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
        value = value * 10 + (text[i] - '0');
        if (value > static_cast<long long>(INT_MAX) + 1)
            value = static_cast<long long>(INT_MAX) + 1; // saturate; keeps INT_MIN reachable
        ++i;
    }
    if (negative)
        value = -value;
    if (value > INT_MAX)
        return INT_MAX;
    if (value < INT_MIN)
        return INT_MIN;
    return static_cast<int>(value);
}

bool HourInPagingWindow(int startHour, int endHour, int hour) {
    if (startHour <= endHour)
        return startHour <= hour && hour < endHour;
    return hour >= startHour || hour < endHour;
}

bool IsPagingHour(int hour) {
    const int startHour = TextToInt(GetProfileString(kPreferences, kStartHour, "0"));
    const int endHour = TextToInt(GetProfileString(kPreferences, kEndHour, "24"));
    return HourInPagingWindow(startHour, endHour, hour);
}

CString ProfileName() {
    return GetProfileString(kPreferences, kProfileName, "");
}

int ScanMillisecondsPerTick() {
    const int value = TextToInt(
        GetProfileString(kPreferences, kScanMillisecondsPerTick, kScanMillisecondsPerTickDefault));
    return value < 0 ? 0 : value;
}

int ReadThreads() {
    const int value = TextToInt(GetProfileString(kPreferences, kReadThreads, ""));
    if (value <= 0) {
        const unsigned processors = std::thread::hardware_concurrency();
        return processors == 0 ? 1 : static_cast<int>(std::min(processors, 64u));
    }
    return std::min(value, 64);
}

int CalendarServerConnections() {
    const int value = TextToInt(GetProfileString(kPreferences, kCalendarServerConnections, ""));
    return value <= 0 ? kCalendarServerConnectionsDefault : std::min(value, 16);
}

} // namespace Settings
