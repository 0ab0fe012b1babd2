// The parts every page of the profile editor shares: fields, password fields, refusal and Test.
#include "app/gui/profiles/ProfilePage.h"

#include "core/Credentials.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

CProfilePage::CProfilePage(const QString& title, int helpContext, QWidget* parent)
    : QWidget(parent), m_title(title), m_helpContext(helpContext), m_form(new QFormLayout),
      m_refusal(new QLabel(this)) {
    m_refusal->setObjectName("refusal");
    m_refusal->setWordWrap(true);
    m_refusal->setTextInteractionFlags(Qt::TextSelectableByMouse);
    QPalette palette = m_refusal->palette();
    palette.setColor(QPalette::WindowText, palette.color(QPalette::Base).lightness() < 128
                                               ? QColor(0xff, 0x9a, 0x9a)
                                               : QColor(0xa8, 0x00, 0x1c));
    m_refusal->setPalette(palette);
    m_refusal->hide();
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(m_form);
    layout->addWidget(m_refusal);
    layout->addStretch(1);
}

void CProfilePage::ShowRefusal(const QString& text) {
    m_refusal->setText(text);
    m_refusal->setVisible(!text.isEmpty());
}

QString CProfilePage::Refusal() const {
    return m_refusal->isHidden() ? QString() : m_refusal->text();
}

QLineEdit* CProfilePage::AddField(const QString& label, const char* objectName) {
    auto* field = new QLineEdit(this);
    field->setObjectName(objectName);
    auto* caption = new QLabel(label, this);
    caption->setBuddy(field);
    m_form->addRow(caption, field);
    return field;
}

QLineEdit* CProfilePage::AddPasswordField(const QString& label, const char* objectName) {
    QLineEdit* field = AddField(label, objectName);
    field->setEchoMode(QLineEdit::Password);
    return field;
}

void CProfilePage::LoadSecret(QLineEdit* field, const std::string& stored) {
    field->clear();
    if (stored.empty())
        field->setPlaceholderText(tr("not set"));
    else if (credentials::IsReference(stored))
        field->setPlaceholderText(QString::fromStdString(stored) + tr(" (type to change)"));
    else
        field->setPlaceholderText(tr("set (type to change)"));
}

void CProfilePage::FillTyped(const QLineEdit* field, admin::OptionValue& option) {
    if (field->text().isEmpty())
        return;
    option.present = true;
    option.value = field->text().toStdString();
}

void CProfilePage::FillText(const QLineEdit* field, admin::OptionValue& option) {
    option.present = true;
    option.value = field->text().toStdString();
}

void CProfilePage::AddTrial(CProfileTrial::Kind kind, const QString& subjectLabel) {
    m_kind = kind;
    m_trial = new CProfileTrial(this);
    if (!subjectLabel.isEmpty())
        m_subject = AddField(subjectLabel, "trialSubject");
    m_test = new QPushButton(tr("&Test"), this);
    m_test->setObjectName("testButton");
    m_test->setAutoDefault(false);
    m_busy = new QProgressBar(this);
    m_busy->setObjectName("busy");
    m_busy->setRange(0, 0); // moving without an end: the time a server takes is unknown
    m_busy->setTextVisible(false);
    m_busy->hide();
    m_cancel = new QPushButton(tr("&Cancel Test"), this);
    m_cancel->setObjectName("cancelTestButton");
    m_cancel->setAutoDefault(false);
    m_cancel->hide();
    auto* row = new QHBoxLayout;
    row->addWidget(m_test);
    row->addWidget(m_busy, 1);
    row->addWidget(m_cancel);
    row->addStretch(0);
    m_form->addRow(QString(), row);
    m_outcome = new QLabel(this);
    m_outcome->setObjectName("outcome");
    m_outcome->setWordWrap(true);
    m_outcome->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_form->addRow(QString(), m_outcome);
    connect(m_test, &QPushButton::clicked, this, &CProfilePage::OnTest);
    connect(m_cancel, &QPushButton::clicked, m_trial, &CProfileTrial::Cancel);
    connect(m_trial, &CProfileTrial::finished, this, &CProfilePage::OnTrialFinished);
}

void CProfilePage::OnTest() {
    if (m_subject && m_subject->text().trimmed().isEmpty()) {
        m_outcome->setText(
            tr("Type the %1 to try first.")
                .arg(m_kind == CProfileTrial::Kind::Page ? tr("pager name") : tr("mailbox")));
        m_subject->setFocus();
        return;
    }
    mail::Profile profile;
    QString error;
    if (!m_source || !m_source(profile, error)) {
        m_outcome->setText(tr("Not tried: %1").arg(error));
        return;
    }
    if (!m_trial->Start(profile, m_kind, m_subject ? m_subject->text().trimmed() : QString(),
                        error)) {
        m_outcome->setText(tr("Not tried: %1").arg(error));
        return;
    }
    m_outcome->setText(tr("Testing..."));
    m_test->setEnabled(false);
    m_busy->show();
    m_cancel->show();
    m_cancel->setFocus();
}

void CProfilePage::OnTrialFinished(bool /*succeeded*/, const QString& outcome) {
    m_outcome->setText(outcome);
    m_busy->hide();
    m_cancel->hide();
    m_test->setEnabled(true);
    m_test->setFocus();
}
