// One page of the profile editor: the fields of one concern of a mail profile, the refusal of
// the profile rules beside them and, for a concern that talks to a server, its Test.
#pragma once

#include "app/admin/ProfileChange.h"
#include "app/gui/profiles/ProfileTrial.h"

#include <QWidget>
#include <functional>

class QFormLayout;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

class CProfilePage : public QWidget {
    Q_OBJECT
public:
    // The edited profile as it would be saved, for a Test; false with the refusal when the
    // fields as they stand are refused.
    using ProfileSource = std::function<bool(mail::Profile& profile, QString& error)>;

    CProfilePage(const QString& title, int helpContext, QWidget* parent);

    // Shows `profile` (a new profile: a default one) in the fields; typed passwords are cleared.
    virtual void Load(const mail::Profile& profile) = 0;
    // Adds this page's fields to `change`, each as the matching option of "orvane profile set";
    // a password field left empty changes nothing.
    virtual void Fill(admin::ProfileChange& change) const = 0;

    const QString& Title() const { return m_title; }
    int HelpContext() const { return m_helpContext; }
    // The refusal of the rules below the fields; empty hides it.
    void ShowRefusal(const QString& text);
    QString Refusal() const;
    void SetProfileSource(ProfileSource source) { m_source = std::move(source); }
    // The page's trial, null on a page without Test.
    CProfileTrial* Trial() const { return m_trial; }

protected:
    QFormLayout* Form() const { return m_form; }
    // A labelled field; `label` carries the accelerator.
    QLineEdit* AddField(const QString& label, const char* objectName);
    // A password field: what is typed is never shown, and the stored password never is; its
    // placeholder says whether one is set (or names the credential it is read from).
    QLineEdit* AddPasswordField(const QString& label, const char* objectName);
    static void LoadSecret(QLineEdit* field, const std::string& stored);
    // Adds the Test row: a field for the pager name or mailbox tried (`subjectLabel` empty: none),
    // Test, a busy indicator with Cancel, and the outcome in words.
    void AddTrial(CProfileTrial::Kind kind, const QString& subjectLabel);
    // A password field's typed text as the typed-password option; absent when nothing was typed.
    static void FillTyped(const QLineEdit* field, admin::OptionValue& option);
    static void FillText(const QLineEdit* field, admin::OptionValue& option);

private:
    void OnTest();
    void OnTrialFinished(bool succeeded, const QString& outcome);

    QString m_title;
    int m_helpContext;
    QFormLayout* m_form;
    QLabel* m_refusal;
    ProfileSource m_source;
    CProfileTrial* m_trial = nullptr;
    CProfileTrial::Kind m_kind = CProfileTrial::Kind::Page;
    QLineEdit* m_subject = nullptr;
    QPushButton* m_test = nullptr;
    QPushButton* m_cancel = nullptr;
    QProgressBar* m_busy = nullptr;
    QLabel* m_outcome = nullptr;
};
