// Settings: string values with defaults, the text-to-integer conversion, the paging-hours rule.
#include "core/Settings.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QSettings>
#include <gtest/gtest.h>

namespace {

class SettingsTest : public testing::Test {
protected:
    void SetUp() override { Clear(); }
    void TearDown() override { Clear(); }
    static void Clear() {
        QSettings store(QSettings::NativeFormat, QSettings::UserScope, "Quorvik", "Orvane");
        store.clear();
        store.sync();
    }
};

} // namespace

TEST_F(SettingsTest, AbsentValuesGiveTheirDefaults) {
    EXPECT_EQ(Settings::GetProfileString("Preferences", "ProfileName", ""), "");
    EXPECT_EQ(Settings::GetProfileString("Preferences", "Column1Width", "149"), "149");
    EXPECT_TRUE(Settings::IsPagingHour(0));
    EXPECT_TRUE(Settings::IsPagingHour(23));
}

TEST_F(SettingsTest, ValuesAreStoredAsTextUnderTheCompanyAndApplicationKeys) {
    Settings::WriteProfileString("Preferences", "ProfileName", "Night shift");
    Settings::WriteProfileString("Display", "Left", "-12");
    EXPECT_EQ(Settings::ProfileName(), "Night shift");
    EXPECT_EQ(Settings::GetProfileString("Display", "Left", "0"), "-12");

    const QString path =
        QSettings(QSettings::NativeFormat, QSettings::UserScope, "Quorvik", "Orvane").fileName();
    EXPECT_TRUE(path.endsWith("/Quorvik/Orvane.conf")) << path.toStdString();
    const std::string file = testing_support::ReadFile(path.toStdString());
    EXPECT_NE(file.find("[Preferences]"), std::string::npos);
    EXPECT_NE(file.find("ProfileName=Night shift"), std::string::npos);
    EXPECT_NE(file.find("[Display]"), std::string::npos);
}

TEST_F(SettingsTest, AnEmptyValueIsStoredAndReadBackAsEmpty) {
    Settings::WriteProfileString("Preferences", "ProfileName", "Demo");
    Settings::WriteProfileString("Preferences", "ProfileName", "");
    EXPECT_EQ(Settings::GetProfileString("Preferences", "ProfileName", "fallback"), "");
}

TEST_F(SettingsTest, ChangesMadeByAnotherWriterApplyAtTheNextRead) {
    EXPECT_TRUE(Settings::IsPagingHour(12));
    {
        // Another process (or a person) edits the store directly.
        QSettings other(QSettings::NativeFormat, QSettings::UserScope, "Quorvik", "Orvane");
        other.setValue("Preferences/StartHour", "8");
        other.setValue("Preferences/EndHour", "8");
        other.sync();
    }
    EXPECT_FALSE(Settings::IsPagingHour(12));
}

TEST(TextToInt, FollowsTheStandardConversion) {
    const struct {
        const char* text;
        int value;
    } rows[] = {
        {"24", 24},
        {"  7", 7},
        {"+5", 5},
        {"-3", -3},
        {"12abc", 12},
        {"abc", 0},
        {"", 0},
        {" - 4", 0},
        {"08", 8},
        {"99999999999", INT_MAX},
        {"-99999999999", INT_MIN},
    };
    for (const auto& row : rows)
        EXPECT_EQ(Settings::TextToInt(row.text), row.value) << '"' << row.text << '"';
}

TEST(PagingHours, WindowsWithinADayAndAcrossMidnight) {
    const struct {
        int start, end, hour;
        bool inside;
    } rows[] = {
        {0, 24, 0, true},  {0, 24, 23, true},  {8, 17, 7, false}, {8, 17, 8, true},
        {8, 17, 16, true}, {8, 17, 17, false}, {8, 8, 8, false},  {8, 8, 12, false},
        {22, 6, 23, true}, {22, 6, 5, true},   {22, 6, 6, false}, {22, 6, 12, false},
        {22, 6, 22, true}, {0, 0, 0, false},   {5, 0, 4, false},  {5, 0, 5, true},
    };
    for (const auto& r : rows)
        EXPECT_EQ(Settings::HourInPagingWindow(r.start, r.end, r.hour), r.inside)
            << r.start << "-" << r.end << " at " << r.hour;
}

TEST_F(SettingsTest, ANonNumericEndHourEmptiesTheWindow) {
    Settings::WriteProfileString("Preferences", "EndHour", "abc");
    for (int h = 0; h < 24; ++h)
        EXPECT_FALSE(Settings::IsPagingHour(h)) << h;
    Settings::WriteProfileString("Preferences", "StartHour", "22");
    Settings::WriteProfileString("Preferences", "EndHour", "6");
    EXPECT_TRUE(Settings::IsPagingHour(23));
    EXPECT_TRUE(Settings::IsPagingHour(5));
    EXPECT_FALSE(Settings::IsPagingHour(12));
}

TEST_F(SettingsTest, TheScanTimePerTickDefaultsToATenthOfASecond) {
    EXPECT_EQ(Settings::ScanMillisecondsPerTick(), 100);
    const struct {
        const char* stored;
        int read;
    } rows[] = {{"250", 250}, {"0", 0}, {"-5", 0}, {"abc", 0}, {" 40ms", 40}, {"", 0}};
    for (const auto& row : rows) {
        Settings::WriteProfileString("Preferences", "ScanMillisecondsPerTick", row.stored);
        EXPECT_EQ(Settings::ScanMillisecondsPerTick(), row.read) << row.stored;
    }
}
