// What a trial of a profile runs and what a person reads of its end, without running it.
#include "app/gui/profiles/ProfileTrial.h"

#include <gtest/gtest.h>

TEST(ProfileTrial, RunsTheMonitorsOwnCommandsWithTheEditedProfile) {
    using Kind = CProfileTrial::Kind;
    const struct {
        Kind kind;
        QStringList arguments;
    } rows[] = {
        {Kind::Page,
         {"page", "Ann (Pager)", "Orvane test page", "--cause", "yes", "--profile", "P 1"}},
        {Kind::Scan, {"scan", "Ann (Pager)", "--profile", "P 1"}},
        {Kind::AddressList, {"address-list", "--profile", "P 1"}},
        {Kind::OutOfOffice, {"out-of-office", "Ann (Pager)", "--profile", "P 1"}},
    };
    for (const auto& row : rows)
        EXPECT_EQ(CProfileTrial::Arguments(row.kind, "Ann (Pager)", "P 1"), row.arguments)
            << row.arguments.front().toStdString();
}

TEST(ProfileTrial, TellsTheOutcomeInTheCommandsOwnWords) {
    const struct {
        bool succeeded;
        QString output, errors, outcome;
    } rows[] = {
        {true, "page sent to Ann\n", "", "Succeeded. page sent to Ann"},
        {true, "in\n", "orvane: No Sieve script is active, so no vacation rule runs.\n",
         "Succeeded. in\nNo Sieve script is active, so no vacation rule runs."},
        {false, "status: failed\n",
         "orvane: A reminder page could not be sent.\norvane: cause: login refused\n",
         "Failed. A reminder page could not be sent.\ncause: login refused"},
        {false, "", "", "Failed. The command gave no reason."},
        {true, "", "", "Succeeded."},
    };
    for (const auto& row : rows)
        EXPECT_EQ(CProfileTrial::Outcome(row.succeeded, row.output, row.errors), row.outcome)
            << row.outcome.toStdString();

    // A long answer is cut to 20 lines, saying how many more there were.
    QString many;
    for (int i = 1; i <= 25; ++i)
        many += QString("entry %1\n").arg(i);
    const QStringList lines = CProfileTrial::Outcome(true, many, "").split('\n');
    ASSERT_EQ(lines.size(), 21);
    EXPECT_EQ(lines.front(), "Succeeded. entry 1");
    EXPECT_EQ(lines[19], "entry 20");
    EXPECT_EQ(lines.back(), "(5 more lines)");
}
