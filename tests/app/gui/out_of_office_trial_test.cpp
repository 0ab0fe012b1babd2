// Test on the profile editor's Out of office page against a real Dovecot with ManageSieve on
// loopback: the state of one mailbox and what decided it, or why it cannot be read.
#include "app/gui/profiles/DlgProfileEditor.h"
#include "app/gui/profiles/ProfilePage.h"
#include "support/DovecotTestServer.h"
#include "support/MailFixture.h"
#include "support/TestSupport.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTest>
#include <gtest/gtest.h>

using namespace testing_support;

namespace {

// One Dovecot for the whole program, trusted through the test CA (the trial's child inherits
// the variable that names it).
class DovecotEnvironment : public testing::Environment {
public:
    static DovecotTestServer* server;
    void SetUp() override {
        server = new DovecotTestServer({"ann", "cy"});
        setenv("ORVANE_SIEVE_CA_FILE", server->CaFile().c_str(), 1);
        CProfileTrial::SetProgram(QString::fromLocal8Bit(qgetenv("ORVANE_BUILD_BIN")) + "/orvane");
    }
    void TearDown() override {
        delete server;
        server = nullptr;
    }
};
DovecotTestServer* DovecotEnvironment::server = nullptr;
const auto* const kEnvironment = testing::AddGlobalTestEnvironment(new DovecotEnvironment);

std::string Dn(const std::string& user) {
    return "/o=Quorvik/ou=Site/cn=Recipients/cn=" + user;
}

void Type(QWidget* page, const char* name, const std::string& text) {
    auto* field = page->findChild<QLineEdit*>(name);
    ASSERT_NE(field, nullptr) << name;
    field->selectAll();
    QTest::keyClick(field, Qt::Key_Delete);
    QTest::keyClicks(field, QString::fromStdString(text));
}

std::string TestOutcome(CProfilePage* page) {
    QTest::mouseClick(page->findChild<QPushButton*>("testButton"), Qt::LeftButton);
    EXPECT_TRUE(QTest::qWaitFor([page] { return !page->Trial()->Running(); },
                                CProfileTrial::kTimeLimitMs + 10000));
    return page->findChild<QLabel*>("outcome")->text().toStdString();
}

} // namespace

TEST(OutOfOfficeTrial, ReadsAMailboxsStateOrSaysWhyNot) {
    DovecotTestServer& server = *DovecotEnvironment::server;
    ASSERT_TRUE(server.Started());
    MailFixture mail;
    // The file says out: a trial that read it instead of the server would show "out".
    mail.Add({"cy", Dn("cy"), "", "cy", ""}, "out\n");
    mail.UseProfile("Office");
    mail::Profiles profiles;
    std::string error;
    ASSERT_TRUE(profiles.Load(error)) << error;
    DlgProfileEditor editor(*profiles.Find("Office"), nullptr);
    editor.show();
    auto* page = editor.findChild<CProfilePage*>("pageOutOfOffice");
    ASSERT_NE(page, nullptr);
    editor.Pages()->setCurrentWidget(page);
    auto* server_ = page->findChild<QRadioButton*>("outOfOfficeServer");
    server_->setFocus();
    QTest::keyClick(server_, Qt::Key_Space);
    Type(page, "sieveUrl", server.Url());
    Type(page, "sieveUser", DovecotTestServer::kMaster);
    Type(page, "sievePassword", DovecotTestServer::kMasterPassword);
    Type(page, "sieveZone", "UTC");
    Type(page, "trialSubject", Dn("cy"));
    const std::string read = TestOutcome(page);
    EXPECT_EQ(read.rfind("Succeeded. in", 0), 0u) << read;
    EXPECT_NE(read.find("No Sieve script is active"), std::string::npos) << read;

    Type(page, "sievePassword", "not the master password");
    const std::string refused = TestOutcome(page);
    EXPECT_EQ(refused.rfind("Failed.", 0), 0u) << refused;
    EXPECT_NE(refused.find("refused to log in orvane as cy"), std::string::npos) << refused;
    EXPECT_EQ(refused.find("not the master password"), std::string::npos);
    editor.reject();
}
