// The Preferences dialog.
#include "app/gui/DlgPreferences.h"

#include "core/Help.h"
#include "core/Settings.h"
#include "mailsystem/Profiles.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

DlgPreferences::DlgPreferences(QWidget* parent)
    : QDialog(parent), m_profileName(new QComboBox(this)),
      m_buttons(new QDialogButtonBox(
          QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::Help, this)) {
    setObjectName("DlgPreferences");
    setWindowTitle(tr("Preferences"));
    setModal(true);

    // Free text with the existing profiles as suggestions. No completer: a completion would
    // change the case or the end of what was typed, and the name is stored exactly as typed.
    m_profileName->setObjectName("profileName");
    m_profileName->setProperty("controlId", kProfileNameControlId);
    m_profileName->setEditable(true);
    m_profileName->setCompleter(nullptr);
    m_profileName->setInsertPolicy(QComboBox::NoInsert);
    m_profileName->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    m_profileName->setMinimumContentsLength(28);
    std::string error;
    mail::Profiles profiles;
    if (profiles.Load(error)) {
        for (const mail::Profile& profile : profiles.All())
            m_profileName->addItem(QString::fromStdString(profile.name));
    }
    m_profileName->setEditText(QString::fromStdString(Settings::ProfileName()));
    m_profileName->lineEdit()->setPlaceholderText(tr("(the default profile)"));

    auto* label = new QLabel(tr("Profile &Name"), this);
    label->setBuddy(m_profileName);
    auto* form = new QFormLayout;
    form->addRow(label, m_profileName);

    m_buttons->setObjectName("buttons");
    m_buttons->button(QDialogButtonBox::Help)->setObjectName("helpButton");
    m_buttons->button(QDialogButtonBox::Help)->setAutoDefault(false);
    m_buttons->button(QDialogButtonBox::Ok)->setDefault(true);
    connect(m_buttons, &QDialogButtonBox::accepted, this, &DlgPreferences::accept);
    connect(m_buttons, &QDialogButtonBox::rejected, this, &DlgPreferences::reject);
    connect(m_buttons, &QDialogButtonBox::helpRequested, this, &DlgPreferences::OnHelp);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addSpacing(6);
    layout->addWidget(m_buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    m_profileName->setFocus();
    m_profileName->lineEdit()->selectAll();
}

QString DlgPreferences::ProfileName() const {
    return m_profileName->currentText();
}

QStringList DlgPreferences::SuggestedNames() const {
    QStringList names;
    for (int i = 0; i < m_profileName->count(); ++i)
        names << m_profileName->itemText(i);
    return names;
}

void DlgPreferences::accept() {
    Settings::WriteProfileString(Settings::kPreferences, Settings::kProfileName,
                                 ProfileName().toStdString());
    QDialog::accept();
}

void DlgPreferences::OnHelp() {
    Help().ShowTopic(kHelpContextPreferences);
}
