// The profile editor's Calendars page: the mail system's files or a CalDAV server, and a scan
// of one mailbox as its Test.
#include "app/gui/profiles/ProfilePages.h"
#include "core/Help.h"

#include <QButtonGroup>
#include <QFormLayout>
#include <QLineEdit>
#include <QRadioButton>

CProfilePageCalendars::CProfilePageCalendars(QWidget* parent)
    : CProfilePage(tr("Calendars"), kHelpContextProfileCalendars, parent),
      m_files(new QRadioButton(tr("The mail system's mailbox &files"), this)),
      m_server(new QRadioButton(tr("A Cal&DAV server"), this)) {
    setObjectName("pageCalendars");
    m_files->setObjectName("calendarFiles");
    m_server->setObjectName("calendarServer");
    auto* group = new QButtonGroup(this);
    group->addButton(m_files);
    group->addButton(m_server);
    Form()->addRow(m_files);
    Form()->addRow(m_server);
    m_url = AddField(tr("&URL template"), "calendarUrl");
    m_url->setPlaceholderText(tr("http://HOST:PORT/{mailbox}/"));
    m_user = AddField(tr("U&ser"), "calendarUser");
    m_password = AddPasswordField(tr("&Password"), "calendarPassword");
    AddTrial(CProfileTrial::Kind::Scan, tr("Test &mailbox"));
    connect(m_server, &QRadioButton::toggled, this, &CProfilePageCalendars::EnableFields);
    m_files->setChecked(true);
    EnableFields();
}

void CProfilePageCalendars::EnableFields() {
    for (QWidget* field : std::initializer_list<QWidget*>{m_url, m_user, m_password})
        field->setEnabled(m_server->isChecked());
}

void CProfilePageCalendars::Load(const mail::Profile& profile) {
    const mail::CalendarServerConfig& c = profile.calendars;
    (c.Used() ? m_server : m_files)->setChecked(true);
    m_url->setText(QString::fromStdString(c.urlTemplate));
    m_user->setText(QString::fromStdString(c.user));
    LoadSecret(m_password, c.password);
    EnableFields();
}

void CProfilePageCalendars::Fill(admin::ProfileChange& change) const {
    if (!m_server->isChecked()) {
        change.calendars.url = {true, ""}; // back to the files: no credentials stay behind
        return;
    }
    FillText(m_url, change.calendars.url);
    FillText(m_user, change.calendars.user);
    FillTyped(m_password, change.calendars.passwordTyped);
}
