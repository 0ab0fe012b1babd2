// The profile editor dialog.
#include "app/gui/profiles/DlgProfileEditor.h"

#include "app/gui/profiles/ProfilePages.h"
#include "core/Help.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShortcut>
#include <QTabWidget>
#include <QVBoxLayout>

DlgProfileEditor::DlgProfileEditor(const std::optional<mail::Profile>& existing, QWidget* parent)
    : QDialog(parent), m_existing(existing), m_name(new QLineEdit(this)),
      m_refusal(new QLabel(this)), m_tabs(new QTabWidget(this)),
      m_buttons(new QDialogButtonBox(
          QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::Help, this)) {
    setObjectName("DlgProfileEditor");
    setWindowTitle(existing ? tr("Mail Profile \"%1\"").arg(QString::fromStdString(existing->name))
                            : tr("New Mail Profile"));
    setModal(true);

    m_name->setObjectName("profileName");
    m_name->setText(existing ? QString::fromStdString(existing->name) : QString());
    m_name->setReadOnly(existing.has_value()); // a profile is renamed by making a new one
    auto* nameLabel = new QLabel(tr("Profile &name"), this);
    nameLabel->setBuddy(m_name);
    auto* form = new QFormLayout;
    form->addRow(nameLabel, m_name);
    m_refusal->setObjectName("refusal");
    m_refusal->setWordWrap(true);
    m_refusal->hide();

    m_tabs->setObjectName("pages");
    m_tabs->setUsesScrollButtons(false); // every page title in sight: the dialog widens to them
    m_pages = {new CProfilePageMailSystem(this), new CProfilePageSending(this),
               new CProfilePageCalendars(this), new CProfilePageAddressList(this),
               new CProfilePageOutOfOffice(this)};
    const mail::Profile shown = existing ? *existing : mail::Profile();
    for (CProfilePage* page : m_pages) {
        page->Load(shown);
        page->SetProfileSource([this](mail::Profile& profile, QString& error) {
            return EditedProfile(profile, error);
        });
        m_tabs->addTab(page, page->Title());
    }

    m_buttons->setObjectName("buttons");
    m_buttons->button(QDialogButtonBox::Help)->setObjectName("helpButton");
    m_buttons->button(QDialogButtonBox::Help)->setAutoDefault(false);
    m_buttons->button(QDialogButtonBox::Ok)->setDefault(true);
    connect(m_buttons, &QDialogButtonBox::accepted, this, &DlgProfileEditor::accept);
    connect(m_buttons, &QDialogButtonBox::rejected, this, &DlgProfileEditor::reject);
    connect(m_buttons, &QDialogButtonBox::helpRequested, this, &DlgProfileEditor::OnHelp);
    new QShortcut(QKeySequence::HelpContents, this, this, &DlgProfileEditor::OnHelp);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(m_tabs, 1);
    layout->addWidget(m_refusal);
    layout->addWidget(m_buttons);
    layout->setSizeConstraint(QLayout::SetMinimumSize);
    (existing ? static_cast<QWidget*>(m_tabs) : m_name)->setFocus();
}

QString DlgProfileEditor::ProfileName() const {
    return m_name->text();
}

admin::ProfileChange DlgProfileEditor::Change() const {
    admin::ProfileChange change;
    change.tryDirectory = false; // OK never waits on a server: the page's Test tries it
    for (const CProfilePage* page : m_pages)
        page->Fill(change);
    return change;
}

CProfilePage* DlgProfileEditor::RefusingPage(const QString& name) {
    const std::string profileName = name.toStdString();
    admin::ProfileChange mailSystemOnly;
    m_pages.front()->Fill(mailSystemOnly);
    for (CProfilePage* page : m_pages) {
        // Each page's fields alone, with the mail system a new profile cannot be made without.
        admin::ProfileChange alone;
        alone.mailSystem = mailSystemOnly.mailSystem;
        page->Fill(alone);
        mail::Profile scratch;
        std::string error;
        if (!admin::CheckChange(profileName, alone).empty())
            return page;
        if (admin::ApplyProfileChange(profileName, m_existing ? &*m_existing : nullptr, alone,
                                      scratch, error) != 0)
            return page;
    }
    return nullptr;
}

void DlgProfileEditor::ShowRefusal(const QString& error, CProfilePage* page) {
    for (CProfilePage* each : m_pages)
        each->ShowRefusal(each == page ? error : QString());
    m_refusal->setText(page ? QString() : error);
    m_refusal->setVisible(!page && !error.isEmpty());
    if (page)
        m_tabs->setCurrentWidget(page);
}

bool DlgProfileEditor::EditedProfile(mail::Profile& profile, QString& error) {
    const std::string name = ProfileName().toStdString();
    const admin::ProfileChange change = Change();
    std::string why = mail::CheckProfileName(name);
    if (!why.empty()) {
        error = QString::fromStdString(why);
        ShowRefusal(error, nullptr);
        m_name->setFocus();
        return false;
    }
    why = admin::CheckChange(name, change);
    if (why.empty() && admin::ApplyProfileChange(name, m_existing ? &*m_existing : nullptr, change,
                                                 profile, why) == 0) {
        ShowRefusal(QString(), nullptr);
        return true;
    }
    error = QString::fromStdString(why);
    ShowRefusal(error, RefusingPage(ProfileName()));
    return false;
}

void DlgProfileEditor::accept() {
    mail::Profile profile;
    QString error;
    if (!EditedProfile(profile, error))
        return;
    const admin::ChangeResult result = admin::SetProfile(ProfileName().toStdString(), Change());
    if (result.code != 0) {
        ShowRefusal(QString::fromStdString(result.error), nullptr);
        return;
    }
    m_warnings = result.warnings;
    QDialog::accept();
}

void DlgProfileEditor::OnHelp() {
    const auto* page = qobject_cast<const CProfilePage*>(m_tabs->currentWidget());
    Help().ShowTopic(page ? page->HelpContext() : kHelpContextMailProfiles);
}
