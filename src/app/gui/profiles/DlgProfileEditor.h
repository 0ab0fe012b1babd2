// The profile editor: one page per concern of a mail profile (mail system, sending, calendars,
// address list, out of office); OK applies the rules of "orvane profile set" and saves.
#pragma once

#include "app/admin/ProfileChange.h"

#include <QDialog>
#include <QList>
#include <optional>

class CProfilePage;
class QDialogButtonBox;
class QLabel;
class QLineEdit;
class QTabWidget;

class DlgProfileEditor : public QDialog {
    Q_OBJECT
public:
    // `existing`: the profile edited (its name is kept); none: a new profile.
    DlgProfileEditor(const std::optional<mail::Profile>& existing, QWidget* parent);

    // Every field as the options of "orvane profile set" it stands for.
    admin::ProfileChange Change() const;
    QString ProfileName() const;
    // The edited profile as OK would save it; false with the refusal (shown beside the fields of
    // the page it concerns, which is brought forward).
    bool EditedProfile(mail::Profile& profile, QString& error);
    // Warnings of the saved profile (a mail system directory that does not open): the profile
    // is saved but does not work yet. Servers are not tried on OK; each page's Test tries one.
    const std::vector<std::string>& Warnings() const { return m_warnings; }
    QTabWidget* Pages() const { return m_tabs; }

    void accept() override;

private:
    void OnHelp();
    // The page whose own fields the rules refuse alone; null when only all of them together are.
    CProfilePage* RefusingPage(const QString& name);
    void ShowRefusal(const QString& error, CProfilePage* page);

    std::optional<mail::Profile> m_existing;
    QLineEdit* m_name;
    QLabel* m_refusal; // a refusal that concerns no one page (the name, the file, the lock)
    QTabWidget* m_tabs;
    QList<CProfilePage*> m_pages;
    QDialogButtonBox* m_buttons;
    std::vector<std::string> m_warnings;
};
