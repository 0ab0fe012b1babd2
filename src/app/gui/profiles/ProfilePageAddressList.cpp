// The profile editor's Address list page: the mail system's file or an LDAP directory, and a
// read of the address list as its Test.
#include "app/gui/profiles/ProfilePages.h"
#include "core/Help.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>

CProfilePageAddressList::CProfilePageAddressList(QWidget* parent)
    : CProfilePage(tr("Address list"), kHelpContextProfileAddressList, parent),
      m_file(new QRadioButton(tr("The mail system's &address-list.txt"), this)),
      m_directory(new QRadioButton(tr("An &LDAP directory"), this)) {
    setObjectName("pageAddressList");
    m_file->setObjectName("addressListFile");
    m_directory->setObjectName("addressListDirectory");
    auto* group = new QButtonGroup(this);
    group->addButton(m_file);
    group->addButton(m_directory);
    Form()->addRow(m_file);
    Form()->addRow(m_directory);
    m_url = AddField(tr("&URL"), "directoryUrl");
    m_url->setPlaceholderText(tr("ldap[s]://HOST[:PORT]/BASE-DN"));
    m_user = AddField(tr("&Bind user"), "directoryUser");
    m_user->setPlaceholderText(tr("empty: anonymous"));
    m_password = AddPasswordField(tr("&Password"), "directoryPassword");
    m_filter = AddField(tr("&Filter"), "directoryFilter");
    m_map = new QComboBox(this);
    m_map->setObjectName("directoryMap");
    m_map->setEditable(true);
    m_map->setInsertPolicy(QComboBox::NoInsert);
    m_map->addItems({"openldap", "active-directory"});
    auto* mapLabel = new QLabel(tr("&Map"), this);
    mapLabel->setBuddy(m_map);
    Form()->addRow(mapLabel, m_map);
    m_startTls = new QCheckBox(tr("Upgrade ldap:// with &StartTLS"), this);
    m_startTls->setObjectName("directoryStartTls");
    Form()->addRow(QString(), m_startTls);
    AddTrial(CProfileTrial::Kind::AddressList, QString());
    connect(m_directory, &QRadioButton::toggled, this, &CProfilePageAddressList::EnableFields);
    m_file->setChecked(true);
    EnableFields();
}

void CProfilePageAddressList::EnableFields() {
    for (QWidget* field :
         std::initializer_list<QWidget*>{m_url, m_user, m_password, m_filter, m_map, m_startTls})
        field->setEnabled(m_directory->isChecked());
}

void CProfilePageAddressList::Load(const mail::Profile& profile) {
    const mail::LdapConfig& d = profile.ldap;
    (d.url.empty() ? m_file : m_directory)->setChecked(true);
    m_url->setText(QString::fromStdString(d.url));
    m_user->setText(QString::fromStdString(d.user));
    LoadSecret(m_password, d.password);
    m_filter->setText(QString::fromStdString(d.filter));
    m_map->setCurrentText(QString::fromStdString(d.map));
    m_startTls->setChecked(d.startTls);
    EnableFields();
}

void CProfilePageAddressList::Fill(admin::ProfileChange& change) const {
    admin::DirectoryOptions& d = change.directory;
    if (!m_directory->isChecked()) {
        d.url = {true, ""}; // back to the file: no credentials stay behind
        return;
    }
    FillText(m_url, d.url);
    FillText(m_user, d.user);
    FillTyped(m_password, d.passwordTyped);
    FillText(m_filter, d.filter);
    d.map = {true, m_map->currentText().toStdString()};
    d.startTls = {true, m_startTls->isChecked() ? "yes" : "no"};
}
