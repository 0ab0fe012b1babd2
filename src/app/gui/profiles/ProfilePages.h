// The five pages of the profile editor, one per concern of a mail profile, each the counterpart
// of the options of "orvane profile set" for that concern.
#pragma once

#include "app/gui/profiles/ProfilePage.h"

class QCheckBox;
class QComboBox;
class QRadioButton;

// --mail-system: the mail system's directory, with a folder chooser.
class CProfilePageMailSystem : public CProfilePage {
    Q_OBJECT
public:
    explicit CProfilePageMailSystem(QWidget* parent);
    void Load(const mail::Profile& profile) override;
    void Fill(admin::ProfileChange& change) const override;

private:
    QLineEdit* m_directory;
};

// --transport, --starttls, --user, --password, --sender and the web transport's options; Test
// sends a test page.
class CProfilePageSending : public CProfilePage {
    Q_OBJECT
public:
    explicit CProfilePageSending(QWidget* parent);
    void Load(const mail::Profile& profile) override;
    void Fill(admin::ProfileChange& change) const override;

private:
    void EnableFields();

    QComboBox* m_kind; // outbox, SMTP server, web service
    QLineEdit* m_url;
    QCheckBox* m_startTls;
    QLineEdit* m_user;
    QLineEdit* m_password;
    QLineEdit* m_sender;
    QComboBox* m_format;
    QLineEdit* m_token;
    std::string m_loadedUrl; // the transport as loaded; left as it is, it is not set again
};

// --calendars, --calendar-user, --calendar-password; Test scans one mailbox.
class CProfilePageCalendars : public CProfilePage {
    Q_OBJECT
public:
    explicit CProfilePageCalendars(QWidget* parent);
    void Load(const mail::Profile& profile) override;
    void Fill(admin::ProfileChange& change) const override;

private:
    void EnableFields();

    QRadioButton* m_files;
    QRadioButton* m_server;
    QLineEdit* m_url;
    QLineEdit* m_user;
    QLineEdit* m_password;
};

// --directory and its options; Test reads the address list.
class CProfilePageAddressList : public CProfilePage {
    Q_OBJECT
public:
    explicit CProfilePageAddressList(QWidget* parent);
    void Load(const mail::Profile& profile) override;
    void Fill(admin::ProfileChange& change) const override;

private:
    void EnableFields();

    QRadioButton* m_file;
    QRadioButton* m_directory;
    QLineEdit* m_url;
    QLineEdit* m_user;
    QLineEdit* m_password;
    QLineEdit* m_filter;
    QComboBox* m_map; // a preset, or a map typed in
    QCheckBox* m_startTls;
};

// --out-of-office and its options; Test reads one mailbox's state.
class CProfilePageOutOfOffice : public CProfilePage {
    Q_OBJECT
public:
    explicit CProfilePageOutOfOffice(QWidget* parent);
    void Load(const mail::Profile& profile) override;
    void Fill(admin::ProfileChange& change) const override;

private:
    void EnableFields();

    QRadioButton* m_files;
    QRadioButton* m_server;
    QLineEdit* m_url;
    QLineEdit* m_user;
    QLineEdit* m_password;
    QCheckBox* m_startTls;
    QLineEdit* m_login;
    QLineEdit* m_zone;
};
