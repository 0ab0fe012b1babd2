// The profile editor's Out of office page: the mailboxes' files or a Sieve server, and a read of
// one mailbox's state as its Test.
#include "app/gui/profiles/ProfilePages.h"
#include "core/Help.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QRadioButton>

CProfilePageOutOfOffice::CProfilePageOutOfOffice(QWidget* parent)
    : CProfilePage(tr("Out of office"), kHelpContextProfileOutOfOffice, parent),
      m_files(new QRadioButton(tr("The mailboxes' out-of-office &files"), this)),
      m_server(new QRadioButton(tr("A Sie&ve server's vacation rules"), this)) {
    setObjectName("pageOutOfOffice");
    m_files->setObjectName("outOfOfficeFiles");
    m_server->setObjectName("outOfOfficeServer");
    auto* group = new QButtonGroup(this);
    group->addButton(m_files);
    group->addButton(m_server);
    Form()->addRow(m_files);
    Form()->addRow(m_server);
    m_url = AddField(tr("&URL"), "sieveUrl");
    m_url->setPlaceholderText(tr("sieve://HOST[:PORT]"));
    m_user = AddField(tr("&Administrator"), "sieveUser");
    m_password = AddPasswordField(tr("&Password"), "sievePassword");
    m_startTls = new QCheckBox(tr("Require &STARTTLS"), this);
    m_startTls->setObjectName("sieveStartTls");
    Form()->addRow(QString(), m_startTls);
    m_login = AddField(tr("&Login template"), "sieveLogin");
    m_login->setPlaceholderText(QStringLiteral("{mailbox}"));
    m_zone = AddField(tr("Server's &zone"), "sieveZone");
    m_zone->setPlaceholderText(tr("the local zone"));
    AddTrial(CProfileTrial::Kind::OutOfOffice, tr("Test &mailbox"));
    connect(m_server, &QRadioButton::toggled, this, &CProfilePageOutOfOffice::EnableFields);
    m_files->setChecked(true);
    EnableFields();
}

void CProfilePageOutOfOffice::EnableFields() {
    for (QWidget* field :
         std::initializer_list<QWidget*>{m_url, m_user, m_password, m_startTls, m_login, m_zone})
        field->setEnabled(m_server->isChecked());
}

void CProfilePageOutOfOffice::Load(const mail::Profile& profile) {
    const mail::sieve::SieveConfig& s = profile.outOfOffice;
    (s.url.empty() ? m_files : m_server)->setChecked(true);
    m_url->setText(QString::fromStdString(s.url));
    m_user->setText(QString::fromStdString(s.user));
    LoadSecret(m_password, s.password);
    m_startTls->setChecked(s.startTls);
    m_login->setText(QString::fromStdString(s.login));
    m_zone->setText(QString::fromStdString(s.zone));
    EnableFields();
}

void CProfilePageOutOfOffice::Fill(admin::ProfileChange& change) const {
    admin::OutOfOfficeOptions& o = change.outOfOffice;
    if (!m_server->isChecked()) {
        o.url = {true, ""}; // back to the files: no credentials stay behind
        return;
    }
    FillText(m_url, o.url);
    FillText(m_user, o.user);
    FillTyped(m_password, o.passwordTyped);
    o.startTls = {true, m_startTls->isChecked() ? "yes" : "no"};
    FillText(m_login, o.login);
    FillText(m_zone, o.zone);
}
