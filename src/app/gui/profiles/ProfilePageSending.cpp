// The profile editor's Sending page: the outbox, an SMTP server or a web service, and a test
// page to a pager name the tester picks.
#include "app/gui/profiles/ProfilePages.h"
#include "core/Help.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>

namespace {
enum KindIndex { kOutbox = 0, kSmtp = 1, kWeb = 2 };
constexpr const char* kOutboxWord = "outbox";
} // namespace

CProfilePageSending::CProfilePageSending(QWidget* parent)
    : CProfilePage(tr("Sending"), kHelpContextProfileSending, parent), m_kind(new QComboBox(this)) {
    setObjectName("pageSending");
    m_kind->setObjectName("transportKind");
    m_kind->addItems({tr("Outbox (files in the mail system's outbox/)"), tr("SMTP server"),
                      tr("Web service (ntfy, Gotify, webhook)")});
    auto* kindLabel = new QLabel(tr("Pages &leave through"), this);
    kindLabel->setBuddy(m_kind);
    Form()->addRow(kindLabel, m_kind);
    m_url = AddField(tr("Server &URL"), "transportUrl");
    m_url->setPlaceholderText(tr("smtp://HOST[:PORT], smtps://HOST[:PORT] or https://HOST/PATH"));
    m_startTls = new QCheckBox(tr("&Require STARTTLS"), this);
    m_startTls->setObjectName("startTls");
    Form()->addRow(QString(), m_startTls);
    m_user = AddField(tr("U&ser"), "user");
    m_password = AddPasswordField(tr("&Password"), "password");
    m_format = new QComboBox(this);
    m_format->setObjectName("webFormat");
    m_format->addItems({"json", "ntfy", "gotify"});
    auto* formatLabel = new QLabel(tr("&Format"), this);
    formatLabel->setBuddy(m_format);
    Form()->addRow(formatLabel, m_format);
    m_token = AddPasswordField(tr("To&ken"), "token");
    m_sender = AddField(tr("Sen&der"), "sender");
    m_sender->setPlaceholderText(tr("orvane@ this host's name"));
    AddTrial(CProfileTrial::Kind::Page, tr("Test pa&ger name"));
    connect(m_kind, &QComboBox::currentIndexChanged, this, &CProfilePageSending::EnableFields);
    EnableFields();
}

void CProfilePageSending::EnableFields() {
    const int kind = m_kind->currentIndex();
    m_url->setEnabled(kind != kOutbox);
    for (QWidget* smtp : std::initializer_list<QWidget*>{m_startTls, m_user, m_password})
        smtp->setEnabled(kind == kSmtp);
    m_format->setEnabled(kind == kWeb);
    m_token->setEnabled(kind == kWeb);
}

void CProfilePageSending::Load(const mail::Profile& profile) {
    const mail::TransportConfig& t = profile.transport;
    using Kind = mail::TransportConfig::Kind;
    m_kind->setCurrentIndex(t.kind == Kind::Smtp ? kSmtp : t.kind == Kind::Web ? kWeb : kOutbox);
    m_loadedUrl = t.kind == Kind::Outbox ? kOutboxWord : t.url;
    m_url->setText(QString::fromStdString(t.url));
    m_startTls->setChecked(t.startTls);
    m_user->setText(QString::fromStdString(t.user));
    LoadSecret(m_password, t.kind == Kind::Smtp ? t.password : std::string());
    m_format->setCurrentText(QString::fromLatin1(mail::WebFormatName(t.format)));
    LoadSecret(m_token, t.token);
    m_sender->setText(QString::fromStdString(t.sender));
    EnableFields();
}

void CProfilePageSending::Fill(admin::ProfileChange& change) const {
    const int kind = m_kind->currentIndex();
    const std::string url = kind == kOutbox ? kOutboxWord : m_url->text().trimmed().toStdString();
    // The transport set again would start its settings afresh (and a web transport's insecure
    // permission with them): only a changed one is given.
    if (url != m_loadedUrl) {
        change.transport.present = true;
        change.transport.value = url;
    }
    if (kind == kSmtp) {
        change.startTls = {true, m_startTls->isChecked() ? "yes" : "no"};
        FillText(m_user, change.user);
        FillTyped(m_password, change.passwordTyped);
    }
    if (kind == kWeb) {
        change.web.format = {true, m_format->currentText().toStdString()};
        FillTyped(m_token, change.web.tokenTyped);
    }
    FillText(m_sender, change.sender);
}
