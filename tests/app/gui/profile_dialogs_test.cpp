// The Mail Profiles dialog and the profile editor on the offscreen platform, driven with mouse
// and keyboard: what the editor saves equals what "orvane profile set" saves, its refusals are
// the command line's, and Test tries the edited profile against loopback servers.
#include "app/cli/Cli.h"
#include "app/gui/profiles/DlgMailProfiles.h"
#include "app/gui/profiles/DlgProfileEditor.h"
#include "app/gui/profiles/ProfilePage.h"
#include "core/Help.h"
#include "core/Settings.h"
#include "support/CalDavServers.h"
#include "support/MailFixture.h"
#include "support/SlapdTestServer.h"
#include "support/SmtpTestServer.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <ctime>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <sstream>

using namespace testing_support;

namespace {

struct CliOutcome {
    int code;
    std::string out, err;
};

CliOutcome RunCli(const cli::Args& args) {
    std::ostringstream out, err;
    const int code = cli::Run(args, out, err);
    return {code, out.str(), err.str()};
}

// The fields of the "profile list" line of `name`, without its name and default columns.
std::vector<std::string> ListedFields(const std::string& name) {
    const CliOutcome list = RunCli({"profile", "list"});
    EXPECT_EQ(list.code, 0) << list.err;
    std::istringstream lines(list.out);
    std::string line;
    while (std::getline(lines, line)) {
        std::vector<std::string> fields;
        std::istringstream split(line);
        std::string field;
        while (std::getline(split, field, '\t'))
            fields.push_back(field);
        if (!fields.empty() && fields[0] == name)
            return std::vector<std::string>(fields.begin() + 2, fields.end());
    }
    ADD_FAILURE() << "no profile " << name << " in\n" << list.out;
    return {};
}

// True when "profile list" has no profile of that name.
bool ListedFieldsOrNone(const std::string& name) {
    const CliOutcome list = RunCli({"profile", "list"});
    return list.code == 0 && list.out.find("\n" + name + "\t") == std::string::npos;
}

template <typename T> T* Child(QWidget* parent, const char* name) {
    T* child = parent->findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(child, nullptr) << name;
    return child;
}

// Types `text` into the field `name` of `page`, replacing what it held.
void Type(QWidget* page, const char* name, const QString& text) {
    auto* field = Child<QLineEdit>(page, name);
    field->selectAll();
    QTest::keyClick(field, Qt::Key_Delete);
    QTest::keyClicks(field, text);
}

// Presses a check box or radio button from the keyboard, as a person tabbing through the page.
void Press(QAbstractButton* button) {
    button->setFocus();
    QTest::keyClick(button, Qt::Key_Space);
}

CProfilePage* Page(DlgProfileEditor& editor, const char* name) {
    return editor.findChild<CProfilePage*>(QString::fromLatin1(name));
}

class ProfileDialogs : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        SmtpTestServer::Options options;
        options.auth = "pager:right-secret";
        s_smtp = new SmtpTestServer(options);
        CProfileTrial::SetProgram(QString::fromLocal8Bit(qgetenv("ORVANE_BUILD_BIN")) + "/orvane");
    }
    static void TearDownTestSuite() {
        delete s_smtp;
        s_smtp = nullptr;
    }
    void SetUp() override {
        ASSERT_TRUE(s_smtp->Started());
        MailFixture::RemoveProfiles();
        mail.Add({"Ann Archer Pager", "/o=Quorvik/cn=aarcher-pager", "", "",
                  "5551234@pager.example.org"});
        passwordFile = dir.Path() + "/password";
        std::ofstream(passwordFile) << "right-secret\n";
    }
    void TearDown() override { DlgMailProfiles::SetEditorHook(nullptr); }

    // Runs New... in the Mail Profiles dialog with `fill` driving the editor once it shows.
    void CreateThroughDialog(const std::function<void(DlgProfileEditor&)>& fill) {
        DlgMailProfiles dialog(nullptr);
        DlgMailProfiles::SetEditorHook([&fill](DlgProfileEditor& editor) {
            QTimer::singleShot(0, &editor, [&fill, &editor] { fill(editor); });
        });
        QTest::mouseClick(Child<QPushButton>(&dialog, "newButton"), Qt::LeftButton);
        notice = dialog.Notice().toStdString();
        for (int i = 0; i < dialog.List()->topLevelItemCount(); ++i)
            listed.push_back(
                dialog.List()->topLevelItem(i)->text(DlgMailProfiles::kName).toStdString());
    }

    static SmtpTestServer* s_smtp;
    MailFixture mail;
    TempDir dir;
    std::string passwordFile;
    std::string notice;
    std::vector<std::string> listed;
};

SmtpTestServer* ProfileDialogs::s_smtp = nullptr;

// Every page filled in: the same values the command line is given below.
void FillEverything(DlgProfileEditor& editor, const std::string& mailSystem) {
    Type(&editor, "profileName", "Edited");
    CProfilePage* page = Page(editor, "pageMailSystem");
    Type(page, "mailSystem", QString::fromStdString(mailSystem));

    page = Page(editor, "pageSending");
    editor.Pages()->setCurrentWidget(page);
    Child<QComboBox>(page, "transportKind")->setCurrentIndex(1);
    Type(page, "transportUrl", "smtp://127.0.0.1:2525");
    Press(Child<QCheckBox>(page, "startTls"));
    Type(page, "user", "pager");
    Type(page, "password", "right-secret");
    Type(page, "sender", "orvane@example.org");

    page = Page(editor, "pageCalendars");
    editor.Pages()->setCurrentWidget(page);
    Press(Child<QRadioButton>(page, "calendarServer"));
    Type(page, "calendarUrl", "http://127.0.0.1:5232/{mailbox}/");
    Type(page, "calendarUser", "calendars");
    Type(page, "calendarPassword", "credential:calendar-secret");

    page = Page(editor, "pageAddressList");
    editor.Pages()->setCurrentWidget(page);
    Press(Child<QRadioButton>(page, "addressListDirectory"));
    Type(page, "directoryUrl", "ldap://127.0.0.1:9/dc=example,dc=org");
    Type(page, "directoryUser", "cn=reader,dc=example,dc=org");
    Type(page, "directoryPassword", "right-secret");
    Type(page, "directoryFilter", "(objectClass=person)");
    Child<QComboBox>(page, "directoryMap")->setCurrentText("active-directory");
    Press(Child<QCheckBox>(page, "directoryStartTls"));

    page = Page(editor, "pageOutOfOffice");
    editor.Pages()->setCurrentWidget(page);
    Press(Child<QRadioButton>(page, "outOfOfficeServer"));
    Type(page, "sieveUrl", "sieve://127.0.0.1:4190");
    Type(page, "sieveUser", "master");
    Type(page, "sievePassword", "right-secret");
    Type(page, "sieveLogin", "{mailbox}@example.org");
    Type(page, "sieveZone", "Europe/Berlin");
}

} // namespace

TEST_F(ProfileDialogs, AProfileMadeInTheEditorEqualsTheOneTheCommandLineMakes) {
    CreateThroughDialog([this](DlgProfileEditor& editor) {
        FillEverything(editor, mail.Directory());
        QTest::keyClick(&editor, Qt::Key_Return); // OK is the default button
        if (editor.isVisible()) {
            ADD_FAILURE() << "the editor refused: "
                          << editor.findChild<QLabel*>("refusal")->text().toStdString();
            editor.reject();
        }
    });
    EXPECT_EQ(listed, std::vector<std::string>{"Edited"});

    const CliOutcome set = RunCli({"profile",
                                   "set",
                                   "Typed",
                                   "--mail-system",
                                   mail.Directory(),
                                   "--transport",
                                   "smtp://127.0.0.1:2525",
                                   "--starttls",
                                   "yes",
                                   "--user",
                                   "pager",
                                   "--password-file",
                                   passwordFile,
                                   "--sender",
                                   "orvane@example.org",
                                   "--calendars",
                                   "http://127.0.0.1:5232/{mailbox}/",
                                   "--calendar-user",
                                   "calendars",
                                   "--calendar-password",
                                   "credential:calendar-secret",
                                   "--directory",
                                   "ldap://127.0.0.1:9/dc=example,dc=org",
                                   "--directory-user",
                                   "cn=reader,dc=example,dc=org",
                                   "--directory-password-file",
                                   passwordFile,
                                   "--directory-filter",
                                   "(objectClass=person)",
                                   "--directory-map",
                                   "active-directory",
                                   "--directory-starttls",
                                   "no",
                                   "--out-of-office",
                                   "sieve://127.0.0.1:4190",
                                   "--out-of-office-user",
                                   "master",
                                   "--out-of-office-password-file",
                                   passwordFile,
                                   "--out-of-office-login",
                                   "{mailbox}@example.org",
                                   "--out-of-office-zone",
                                   "Europe/Berlin"});
    ASSERT_EQ(set.code, 0) << set.err;
    // Saved with the command line's warnings (the directory at port 9 does not answer).
    std::string warnings;
    std::istringstream lines(set.err);
    for (std::string line; std::getline(lines, line);) {
        const std::string prefix = "orvane: warning: ";
        ASSERT_EQ(line.rfind(prefix, 0), 0u) << line;
        warnings += (warnings.empty() ? "" : "\n") + line.substr(prefix.size());
    }
    EXPECT_NE(warnings.find("127.0.0.1:9"), std::string::npos) << set.err;
    // OK in the window does not wait on the directory (its Test does): no such warning.
    EXPECT_EQ(notice, "");
    const std::vector<std::string> edited = ListedFields("Edited");
    EXPECT_EQ(edited, ListedFields("Typed"));
    ASSERT_GE(edited.size(), 2u);
    EXPECT_EQ(edited[1], "smtp://127.0.0.1:2525 (STARTTLS)") << "the transport as listed";

    // The secrets are stored byte for byte alike, and never shown by the editor again.
    mail::Profiles profiles;
    std::string error;
    ASSERT_TRUE(profiles.Load(error)) << error;
    const mail::Profile* a = profiles.Find("Edited");
    const mail::Profile* b = profiles.Find("Typed");
    ASSERT_TRUE(a && b);
    EXPECT_EQ(a->transport.password, b->transport.password);
    EXPECT_EQ(a->transport.password, "right-secret");
    EXPECT_TRUE(a->ldap == b->ldap);
    EXPECT_TRUE(a->outOfOffice == b->outOfOffice);
    EXPECT_EQ(a->calendars.password, "credential:calendar-secret");
    DlgProfileEditor again(*a, nullptr);
    for (const char* field : {"password", "directoryPassword", "sievePassword"}) {
        auto* edit = again.findChild<QLineEdit*>(field);
        ASSERT_NE(edit, nullptr) << field;
        EXPECT_TRUE(edit->text().isEmpty()) << field;
        EXPECT_EQ(edit->echoMode(), QLineEdit::Password) << field;
        EXPECT_EQ(edit->placeholderText(), "set (type to change)") << field;
    }
}

// Each refusal is the command line's sentence, shown on the page of the field it concerns; the
// editor stays open and nothing is saved.
TEST_F(ProfileDialogs, RefusalsAreTheCommandLinesBesideTheirFields) {
    struct Row {
        const char* page;
        std::function<void(CProfilePage*)> fill;
        cli::Args options; // the same value for "orvane profile set"
    };
    const std::vector<Row> rows = {
        {"pageSending",
         [](CProfilePage* p) {
             Child<QComboBox>(p, "transportKind")->setCurrentIndex(1);
             Type(p, "transportUrl", "ftp://127.0.0.1");
         },
         {"--transport", "ftp://127.0.0.1"}},
        {"pageCalendars",
         [](CProfilePage* p) {
             Press(Child<QRadioButton>(p, "calendarServer"));
             Type(p, "calendarUrl", "http://127.0.0.1:5232/calendars/");
         },
         {"--calendars", "http://127.0.0.1:5232/calendars/"}},
        {"pageAddressList",
         [](CProfilePage* p) {
             Press(Child<QRadioButton>(p, "addressListDirectory"));
             Type(p, "directoryUrl", "http://127.0.0.1/dc=example");
         },
         {"--directory", "http://127.0.0.1/dc=example"}},
        {"pageOutOfOffice",
         [](CProfilePage* p) {
             Press(Child<QRadioButton>(p, "outOfOfficeServer"));
             Type(p, "sieveUrl", "imap://127.0.0.1");
         },
         {"--out-of-office", "imap://127.0.0.1"}},
    };
    for (const Row& row : rows) {
        cli::Args args = {"profile", "set", "Refused", "--mail-system", mail.Directory()};
        args.insert(args.end(), row.options.begin(), row.options.end());
        const CliOutcome cli = RunCli(args);
        ASSERT_NE(cli.code, 0) << row.page;
        const std::string prefix = "orvane: ";
        ASSERT_EQ(cli.err.rfind(prefix, 0), 0u) << cli.err;
        const std::string sentence =
            cli.err.substr(prefix.size(), cli.err.size() - prefix.size() - 1);

        DlgProfileEditor editor(std::nullopt, nullptr);
        editor.show();
        Type(&editor, "profileName", "Refused");
        Type(Page(editor, "pageMailSystem"), "mailSystem",
             QString::fromStdString(mail.Directory()));
        CProfilePage* page = Page(editor, row.page);
        row.fill(page);
        QTest::mouseClick(
            editor.findChild<QDialogButtonBox*>("buttons")->button(QDialogButtonBox::Ok),
            Qt::LeftButton);
        EXPECT_TRUE(editor.isVisible()) << row.page;
        EXPECT_EQ(page->Refusal().toStdString(), sentence) << row.page;
        EXPECT_EQ(editor.Pages()->currentWidget(), page) << row.page;
        for (const char* other : {"pageMailSystem", "pageSending", "pageCalendars",
                                  "pageAddressList", "pageOutOfOffice"})
            EXPECT_TRUE(std::string(other) == row.page || Page(editor, other)->Refusal().isEmpty())
                << other;
        editor.reject();
    }
    mail::Profiles profiles;
    std::string error;
    ASSERT_TRUE(profiles.Load(error));
    EXPECT_EQ(profiles.Find("Refused"), nullptr);
}

namespace {

// The outcome of a Test on `page` once it has ended (bounded: a trial ends by its own limit).
std::string TestOutcome(CProfilePage* page) {
    QTest::mouseClick(Child<QPushButton>(page, "testButton"), Qt::LeftButton);
    EXPECT_TRUE(QTest::qWaitFor([page] { return !page->Trial()->Running(); },
                                CProfileTrial::kTimeLimitMs + 10000));
    return Child<QLabel>(page, "outcome")->text().toStdString();
}

} // namespace

// Test sends a test page with the profile as edited (not as saved): the right password pages,
// a wrong one says why not.
TEST_F(ProfileDialogs, TestSendsATestPageAndSaysWhyItFailed) {
    mail.UseProfile("Smtp", SmtpTransport(s_smtp->Url()));
    mail::Profiles profiles;
    std::string error;
    ASSERT_TRUE(profiles.Load(error)) << error;
    DlgProfileEditor editor(*profiles.Find("Smtp"), nullptr);
    editor.show();
    CProfilePage* page = Page(editor, "pageSending");
    editor.Pages()->setCurrentWidget(page);
    Type(page, "user", "pager");
    Type(page, "password", "right-secret");
    Type(page, "trialSubject", "Ann Archer Pager");
    const size_t before = s_smtp->Messages().size();
    const std::string sent = TestOutcome(page);
    EXPECT_EQ(sent.rfind("Succeeded.", 0), 0u) << sent;
    EXPECT_NE(sent.find("page sent to Ann Archer Pager"), std::string::npos) << sent;
    const auto messages = s_smtp->Messages();
    ASSERT_EQ(messages.size(), before + 1);
    EXPECT_NE(messages.back().data.find(CProfileTrial::kTestPageText), std::string::npos);

    Type(page, "password", "wrong-secret");
    const std::string refused = TestOutcome(page);
    EXPECT_EQ(refused.rfind("Failed.", 0), 0u) << refused;
    EXPECT_NE(refused.find("A reminder page could not be sent."), std::string::npos) << refused;
    // The cause in words, beside the event text that names none for SMTP.
    EXPECT_NE(refused.find("cause: "), std::string::npos) << refused;
    EXPECT_EQ(s_smtp->Messages().size(), before + 1);
    // Nothing was saved by trying.
    ASSERT_TRUE(profiles.Load(error));
    EXPECT_TRUE(profiles.Find("Smtp")->transport.password.empty());
    editor.reject();
}

// Cancel during a Test against a server that never answers ends the trial at once: the child
// is gone and the window is free again before any further event is handled.
TEST_F(ProfileDialogs, CancelEndsATestOfASilentServerAtOnce) {
    SilentServer silent;
    mail.UseProfile("Silent", SmtpTransport("smtp://127.0.0.1:" + std::to_string(silent.Port())));
    mail::Profiles profiles;
    std::string error;
    ASSERT_TRUE(profiles.Load(error)) << error;
    DlgProfileEditor editor(*profiles.Find("Silent"), nullptr);
    editor.show();
    CProfilePage* page = Page(editor, "pageSending");
    editor.Pages()->setCurrentWidget(page);
    Type(page, "trialSubject", "Ann Archer Pager");
    QTest::mouseClick(Child<QPushButton>(page, "testButton"), Qt::LeftButton);
    ASSERT_TRUE(page->Trial()->Running()) << Child<QLabel>(page, "outcome")->text().toStdString();
    EXPECT_TRUE(Child<QProgressBar>(page, "busy")->isVisible());
    EXPECT_FALSE(Child<QPushButton>(page, "testButton")->isEnabled());
    auto* cancel = Child<QPushButton>(page, "cancelTestButton");
    ASSERT_TRUE(cancel->isVisible());
    QTest::mouseClick(cancel, Qt::LeftButton);
    EXPECT_FALSE(page->Trial()->Running());
    EXPECT_EQ(Child<QLabel>(page, "outcome")->text(), "Cancelled.");
    EXPECT_FALSE(Child<QProgressBar>(page, "busy")->isVisible());
    EXPECT_TRUE(Child<QPushButton>(page, "testButton")->isEnabled());
    editor.reject();
}

namespace {

// Makes `window` the active window, as a click on it would; shortcuts reach only that one.
bool Activate(QWidget* window) {
    return QTest::qWaitFor([window] {
        if (QApplication::activeWindow() == window)
            return true;
        window->activateWindow();
        return false;
    });
}

// Records the topics asked for instead of opening the help window.
class RecordedHelp : public IHelp {
public:
    RecordedHelp() : m_previous(SetHelp(this)) {}
    ~RecordedHelp() override { SetHelp(m_previous); }
    void ShowContents() override { topics.push_back(0); }
    void ShowSearch() override {}
    void ShowHowToUseHelp() override {}
    void ShowTopic(int contextId) override { topics.push_back(contextId); }
    std::vector<int> topics;

private:
    IHelp* m_previous;
};

} // namespace

// F1 opens the topic of what is in front (the dialog, or the editor's page); Esc closes the
// editor without saving; Ctrl+Tab moves between its pages.
TEST_F(ProfileDialogs, TheKeyboardReachesHelpPagesAndEscape) {
    RecordedHelp help;
    DlgMailProfiles dialog(nullptr);
    dialog.show();
    ASSERT_TRUE(Activate(&dialog));
    QTest::keyClick(dialog.List(), Qt::Key_F1);
    DlgProfileEditor editor(std::nullopt, nullptr);
    editor.show();
    ASSERT_TRUE(Activate(&editor));
    QTest::keyClick(&editor, Qt::Key_F1);
    QTest::keyClick(editor.Pages(), Qt::Key_Tab, Qt::ControlModifier);
    QTest::keyClick(&editor, Qt::Key_F1);
    QTest::keyClick(editor.Pages(), Qt::Key_Tab, Qt::ControlModifier);
    QTest::keyClick(editor.Pages(), Qt::Key_Tab, Qt::ControlModifier);
    QTest::keyClick(editor.Pages(), Qt::Key_Tab, Qt::ControlModifier);
    QTest::keyClick(&editor, Qt::Key_F1);
    EXPECT_EQ(help.topics,
              (std::vector<int>{kHelpContextMailProfiles, kHelpContextProfileMailSystem,
                                kHelpContextProfileSending, kHelpContextProfileOutOfOffice}));
    // Within each page, with the name above the pages, every accelerator is a key of its own.
    for (int i = 0; i < editor.Pages()->count(); ++i) {
        std::map<QChar, QString> keys = {{QChar('n'), QStringLiteral("Profile &name")}};
        QWidget* page = editor.Pages()->widget(i);
        QStringList texts;
        for (const QLabel* label : page->findChildren<QLabel*>())
            texts << label->text();
        for (const QAbstractButton* button : page->findChildren<QAbstractButton*>())
            texts << button->text();
        for (const QString& text : texts) {
            const qsizetype at = text.indexOf('&');
            if (at < 0 || at + 1 >= text.size())
                continue;
            const QChar key = text[at + 1].toLower();
            EXPECT_TRUE(keys.emplace(key, text).second)
                << editor.Pages()->tabText(i).toStdString() << ": " << text.toStdString() << " and "
                << keys[key].toStdString();
        }
    }
    Type(&editor, "profileName", "Escaped");
    QTest::keyClick(&editor, Qt::Key_Escape);
    EXPECT_EQ(editor.result(), QDialog::Rejected);
    EXPECT_FALSE(editor.isVisible());
    EXPECT_TRUE(ListedFieldsOrNone("Escaped"));
}

// Test on the Address list page reads the directory as the edited page says, and a wrong bind
// password says that the directory refused the bind, never the password.
TEST_F(ProfileDialogs, TestReadsTheDirectoryAndSaysWhyItCannot) {
    SlapdTestServer server(ReadFile(DataDir() + "/directory/demo.ldif"));
    ASSERT_TRUE(server.Started());
    mail.UseProfile("Office");
    mail::Profiles profiles;
    std::string error;
    ASSERT_TRUE(profiles.Load(error)) << error;
    DlgProfileEditor editor(*profiles.Find("Office"), nullptr);
    editor.show();
    CProfilePage* page = Page(editor, "pageAddressList");
    editor.Pages()->setCurrentWidget(page);
    Press(Child<QRadioButton>(page, "addressListDirectory"));
    Type(page, "directoryUrl", QString::fromStdString(server.Url()));
    Type(page, "directoryUser", SlapdTestServer::kReaderDn);
    Type(page, "directoryPassword", SlapdTestServer::kReaderPassword);
    Press(Child<QCheckBox>(page, "directoryStartTls")); // plain ldap:// on loopback
    const std::string read = TestOutcome(page);
    EXPECT_EQ(read.rfind("Succeeded.", 0), 0u) << read;
    EXPECT_NE(read.find("Hiro Tanaka (Pager)"), std::string::npos) << read;

    Type(page, "directoryPassword", "wrong guess");
    const std::string refused = TestOutcome(page);
    EXPECT_EQ(refused.rfind("Failed.", 0), 0u) << refused;
    EXPECT_NE(refused.find("refused the bind as " + std::string(SlapdTestServer::kReaderDn)),
              std::string::npos)
        << refused;
    EXPECT_EQ(refused.find("wrong guess"), std::string::npos);
    editor.reject();
}

// Test on the Calendars page scans one mailbox on a CalDAV server (Radicale) as the edited page
// says: its reminder with the right password, the server's refusal with a wrong one.
TEST_F(ProfileDialogs, TestScansAMailboxOnACalendarServer) {
    caldav_test::DavServer server(caldav_test::Kind::Radicale);
    ASSERT_TRUE(server.Started());
    mail.Add({"Bea Berg", "/o=Quorvik/cn=bberg", "", "bberg", ""});
    ASSERT_TRUE(server.MakeHome("bberg"));
    ASSERT_TRUE(server.MakeCollection("bberg", "calendar"));
    // An appointment tomorrow (the trial scans at the real time), reminded 15 minutes before.
    const CTime start(static_cast<int32_t>(std::time(nullptr) + 86400));
    ASSERT_TRUE(server.PutCalendar(
        "bberg", "calendar",
        "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Orvane tests//EN\r\nBEGIN:VEVENT\r\n"
        "UID:review\r\nDTSTAMP:20260101T000000Z\r\nSUMMARY:Budget review\r\nDTSTART:" +
            start.FormatGmt("%Y%m%dT%H%M%SZ") +
            "\r\nDURATION:PT30M\r\nBEGIN:VALARM\r\nACTION:DISPLAY\r\nTRIGGER:-PT15M\r\n"
            "END:VALARM\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n"));
    mail.UseProfile("Office");
    mail::Profiles profiles;
    std::string error;
    ASSERT_TRUE(profiles.Load(error)) << error;
    DlgProfileEditor editor(*profiles.Find("Office"), nullptr);
    editor.show();
    CProfilePage* page = Page(editor, "pageCalendars");
    editor.Pages()->setCurrentWidget(page);
    Press(Child<QRadioButton>(page, "calendarServer"));
    Type(page, "calendarUrl", QString::fromStdString(server.Template()));
    Type(page, "calendarUser", QString::fromStdString(server.Reader().user));
    Type(page, "calendarPassword", QString::fromStdString(server.Reader().password));
    Type(page, "trialSubject", "/o=Quorvik/cn=bberg");
    const std::string scanned = TestOutcome(page);
    EXPECT_EQ(scanned.rfind("Succeeded.", 0), 0u) << scanned;
    EXPECT_NE(scanned.find("Budget review"), std::string::npos) << scanned;
    EXPECT_NE(scanned.find("status: succeeded"), std::string::npos) << scanned;

    Type(page, "calendarPassword", "wrong guess");
    const std::string refused = TestOutcome(page);
    EXPECT_EQ(refused.rfind("Failed.", 0), 0u) << refused;
    EXPECT_NE(refused.find("401"), std::string::npos) << refused;
    EXPECT_EQ(refused.find("wrong guess"), std::string::npos);
    editor.reject();
}
