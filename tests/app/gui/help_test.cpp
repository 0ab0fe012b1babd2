// The help shipped with the program: every page reachable and its links whole, the topics by
// context number, the search, and the event texts an administrator must be able to look up.
#include "app/gui/HelpPages.h"
#include "app/gui/HelpWindow.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QListWidget>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTextBrowser>
#include <QTreeWidget>
#include <gtest/gtest.h>

namespace {

QString Html(const QString& file) {
    QFile page(":/help/" + file);
    return page.open(QIODevice::ReadOnly) ? QString::fromUtf8(page.readAll()) : QString();
}

} // namespace

TEST(HelpPages, EveryPageHasATitleAndEveryLinkLeadsSomewhere) {
    const CHelpPages pages;
    ASSERT_FALSE(pages.Contents().isEmpty());
    QStringList files;
    for (const CHelpPages::Entry& entry : pages.Contents())
        files << entry.file;
    // Every page shipped is in the contents, and every page of the contents is shipped.
    QStringList shipped;
    for (const QString& name : QDir(":/help").entryList({"*.html"}))
        shipped << name;
    shipped.sort();
    QStringList sorted = files;
    sorted.sort();
    EXPECT_EQ(sorted, shipped);

    static const QRegularExpression link(R"re(href="([^"]*)")re");
    for (const CHelpPages::Entry& entry : pages.Contents()) {
        SCOPED_TRACE(entry.file.toStdString());
        EXPECT_FALSE(entry.title.isEmpty());
        EXPECT_GT(pages.TextOf(entry.file).size(), 200) << "a page with something to read";
        for (const QRegularExpressionMatch& match : link.globalMatch(Html(entry.file))) {
            const QString target = match.captured(1);
            if (target.startsWith("https://") || target.startsWith("mailto:")) {
                // Only the reserved example domain.
                EXPECT_TRUE(target.contains("quorvik.example")) << target.toStdString();
                continue;
            }
            EXPECT_TRUE(files.contains(target.section('#', 0, 0)))
                << "broken link " << target.toStdString();
        }
    }
}

TEST(HelpPages, ContextNumbersOpenTheirTopics) {
    const CHelpPages pages;
    const struct {
        int context;
        const char* title;
    } rows[] = {
        {2, "Contacting Quorvik Sales"},
        {3, "Obtaining Technical Support"},
        {5, "The User Properties dialog"},
        {21, "The User List dialog"},
        {26, "Preferences"},
        {40, "The Mail Profiles dialog"},
        {41, "Profile: Mail system"},
        {42, "Profile: Sending"},
        {43, "Profile: Calendars"},
        {44, "Profile: Address list"},
        {45, "Profile: Out of office"},
        {46, "The Events view"},
    };
    CHelpWindow window;
    for (const auto& row : rows) {
        const QString file = CHelpPages::FileForContext(row.context);
        EXPECT_EQ(pages.TitleOf(file), row.title) << row.context;
        window.ShowTopic(row.context);
        EXPECT_EQ(window.CurrentPage(), file) << row.context;
        EXPECT_TRUE(window.isVisible());
        EXPECT_TRUE(window.windowTitle().endsWith(row.title)) << window.windowTitle().toStdString();
    }
    window.ShowTopic(999);
    EXPECT_EQ(window.CurrentPage(), CHelpPages::kContentsPage);
    window.ShowHowToUseHelp();
    EXPECT_EQ(window.CurrentPage(), CHelpPages::kHowToUseHelpPage);
    // The dialogs' pages describe their own controls.
    const QString userProps = pages.TextOf(CHelpPages::FileForContext(5));
    for (const char* text : {"Mailbox Name", "Pager Name", "Page only when out of office",
                             "Scan schedule file every", "minutes for new reminders."})
        EXPECT_TRUE(userProps.contains(text)) << text;
    const QString userList = pages.TextOf(CHelpPages::FileForContext(21));
    for (const char* text :
         {"Configured Users", "New...", "Edit...", "Remove", "Are you sure you want to delete"})
        EXPECT_TRUE(userList.contains(text)) << text;
}

TEST(HelpPages, TheSearchFindsThePagesHoldingEveryWordBestFirst) {
    const CHelpPages pages;
    const struct {
        const char* query;
        const char* best; // empty: nothing found
    } rows[] = {
        {"StartHour", "paging-hours.html"},
        {"starthour endhour midnight", "paging-hours.html"},
        {"ProfileName", "settings.html"},
        {"does not exist in the addressbook", "event-log.html"},
        {"deliver-to", "pager-entry.html"},
        {"xyzzy", ""},
        {"   ", ""},
    };
    for (const auto& row : rows) {
        const QList<CHelpPages::Hit> hits = pages.Search(row.query);
        if (!*row.best) {
            EXPECT_TRUE(hits.isEmpty()) << row.query;
            continue;
        }
        ASSERT_FALSE(hits.isEmpty()) << row.query;
        EXPECT_EQ(hits.first().file, row.best) << row.query;
        for (int i = 1; i < hits.size(); ++i)
            EXPECT_GE(hits[i - 1].score, hits[i].score);
        for (const CHelpPages::Hit& hit : hits)
            for (const QString& word : QString(row.query).split(' ', Qt::SkipEmptyParts))
                EXPECT_TRUE(pages.TextOf(hit.file).contains(word, Qt::CaseInsensitive))
                    << row.query;
    }

    CHelpWindow window;
    window.ShowSearch();
    EXPECT_EQ(window.findChild<QTabWidget*>("helpTabs")->currentIndex(), 1);
    window.Search("paging hours");
    auto* results = window.findChild<QListWidget*>("helpResults");
    ASSERT_NE(results, nullptr);
    ASSERT_GT(results->count(), 0);
    emit results->itemActivated(results->item(0));
    EXPECT_EQ(window.CurrentPage(), pages.Search("paging hours").first().file);
    EXPECT_TRUE(window.findChild<QTextBrowser*>("helpBrowser")->textCursor().hasSelection())
        << "the word found is highlighted";
}

TEST(HelpPages, EveryEventTextIsExplained) {
    const CHelpPages pages;
    const QString eventLog = pages.TextOf("event-log.html").simplified();
    // The fixed part of each text the program writes to the event log, with the double blank
    // after a full stop as the program writes it.
    const char* texts[] = {
        "Orvane is not logged onto the mail system.  Please exit and restart the application.",
        "There is insufficient disk space to send the reminder page.",
        "There is insufficient memory to send the reminder page",
        "because the pager name does not exist in the addressbook.",
        "The logon to the mail system has been lost.",
        "A reminder page could not be sent because the specified pager name matched more than one "
        "entry in the addressbook.",
        "A reminder page could not be sent.  An unspecified error was received.",
        "Unable to initialize the MAPI driver.",
        "Unable to log onto the MAPI session.",
        "Unable to log off the MAPI session.",
        "Unable to open the Exchange Server Store.",
        "Unable to open the Mailbox",
        "Unable to obtain out of office flag.",
        "Unable to close the Mailbox.",
        "Unable to close the Exchange Server Store.",
        "Unable to start the Outlook session for the scan.",
        "Unable to load Microsoft Outlook.",
        "Error opening Outlook namespace.",
        "Unable to open a MAPI sesson.",
        "Error logging off the Outlook session.",
        "Error opening Outlook user",
        "Error resolving",
        "Failed to resolve",
        "Error obtaining Outlook Calendar folder for user",
        "Error obtaining Outlook Tasks folder for user",
        "Error reading Calendar folder for user",
        "Error reading Tasks folder for user",
        "Error reading the next item of the Calendar folder for user",
        "Error reading the next item of the Tasks folder for user",
        "has a date that cannot be handled; it gives no reminder.",
        "was interrupted by an Outlook failure.",
        "The user data file",
        "The damaged user data file",
        "A monitoring cycle was interrupted by",
        "is not an iCalendar content line",
        "which is not known; its times are read as local time.",
        "was skipped and the rest of the file read.",
        "cannot be read; only the event's first occurrence is paged.",
        "is not expanded, as its occurrences cannot be found within the reader's limits; only the "
        "event's first occurrence is paged.",
        "more than once; the first is used.",
        "cannot be read; it is ignored, so the dates it would exclude are paged.",
        "more rules that are not read as written, like those named.",
        "While Orvane was stopped,",
        "over before Orvane was back,",
        "The monitor's state file",
        "cannot be used:",
        "was not written",
    };
    for (const char* text : texts)
        EXPECT_TRUE(eventLog.contains(QString(text).simplified())) << text;
}

TEST(HelpWindow, TheContentsListEveryPageAndFollowTheCurrentOne) {
    CHelpWindow window;
    window.ShowContents();
    auto* contents = window.findChild<QTreeWidget*>("helpContents");
    ASSERT_NE(contents, nullptr);
    int items = 0;
    for (QTreeWidgetItemIterator it(contents); *it; ++it)
        ++items;
    EXPECT_EQ(items, window.Pages().Contents().size());
    window.ShowTopic(26);
    ASSERT_NE(contents->currentItem(), nullptr);
    EXPECT_EQ(contents->currentItem()->text(0), "Preferences");
    // Closing the help does not end the program.
    EXPECT_FALSE(window.testAttribute(Qt::WA_QuitOnClose));
}
