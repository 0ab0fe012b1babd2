// The profile editor's Mail system page: the directory, with a folder chooser.
#include "app/gui/profiles/ProfilePages.h"
#include "core/Help.h"

#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

CProfilePageMailSystem::CProfilePageMailSystem(QWidget* parent)
    : CProfilePage(tr("Mail system"), kHelpContextProfileMailSystem, parent),
      m_directory(new QLineEdit(this)) {
    setObjectName("pageMailSystem");
    m_directory->setObjectName("mailSystem");
    m_directory->setMinimumWidth(m_directory->fontMetrics().averageCharWidth() * 40);
    auto* browse = new QPushButton(tr("&Browse..."), this);
    browse->setObjectName("browseButton");
    browse->setAutoDefault(false);
    connect(browse, &QPushButton::clicked, this, [this] {
        const QString chosen = QFileDialog::getExistingDirectory(this, tr("Mail System Directory"),
                                                                 m_directory->text());
        if (!chosen.isEmpty())
            m_directory->setText(chosen);
    });
    auto* row = new QHBoxLayout;
    row->addWidget(m_directory, 1);
    row->addWidget(browse);
    auto* label = new QLabel(tr("&Directory"), this);
    label->setBuddy(m_directory);
    Form()->addRow(label, row);
    auto* note =
        new QLabel(tr("The folder holding address-list.txt, mailboxes/ and outbox/."), this);
    note->setWordWrap(true);
    Form()->addRow(QString(), note);
}

void CProfilePageMailSystem::Load(const mail::Profile& profile) {
    m_directory->setText(QString::fromStdString(profile.mailSystem));
}

void CProfilePageMailSystem::Fill(admin::ProfileChange& change) const {
    FillText(m_directory, change.mailSystem);
}
