// The Mail Profiles dialog.
#include "app/gui/profiles/DlgMailProfiles.h"

#include "app/admin/ProfileChange.h"
#include "app/gui/profiles/DlgProfileEditor.h"
#include "core/Help.h"
#include "core/MessageBoxes.h"
#include "mailsystem/Profiles.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QShortcut>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

std::function<void(DlgProfileEditor&)>& EditorHook() {
    static std::function<void(DlgProfileEditor&)> hook;
    return hook;
}

QString Joined(const std::vector<std::string>& lines) {
    QStringList texts;
    for (const std::string& line : lines)
        texts << QString::fromStdString(line);
    return texts.join(QLatin1Char('\n'));
}

} // namespace

DlgMailProfiles::DlgMailProfiles(QWidget* parent)
    : QDialog(parent), m_list(new QTreeWidget(this)), m_new(new QPushButton(tr("&New..."), this)),
      m_edit(new QPushButton(tr("&Edit..."), this)), m_remove(new QPushButton(tr("&Remove"), this)),
      m_default(new QPushButton(tr("Set as &Default"), this)), m_notice(new QLabel(this)) {
    setObjectName("DlgMailProfiles");
    setWindowTitle(tr("Mail Profiles"));
    setModal(true);

    m_list->setObjectName("profileList");
    m_list->setColumnCount(kColumns);
    m_list->setHeaderLabels({tr("Name"), tr("Default"), tr("Mail System"), tr("Transport")});
    m_list->setRootIsDecorated(false);
    m_list->setAllColumnsShowFocus(true);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->header()->setSectionsMovable(false);
    m_list->setMinimumWidth(560);
    auto* listLabel = new QLabel(tr("&Profiles"), this);
    listLabel->setBuddy(m_list);

    m_new->setObjectName("newButton");
    m_edit->setObjectName("editButton");
    m_remove->setObjectName("removeButton");
    m_default->setObjectName("defaultButton");
    auto* side = new QVBoxLayout;
    for (QPushButton* button : {m_new, m_edit, m_remove, m_default}) {
        button->setAutoDefault(false);
        side->addWidget(button);
    }
    side->addStretch(1);

    m_notice->setObjectName("notice");
    m_notice->setWordWrap(true);
    m_notice->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_notice->hide();

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close | QDialogButtonBox::Help, this);
    buttons->setObjectName("buttons");
    buttons->button(QDialogButtonBox::Help)->setAutoDefault(false);
    connect(buttons, &QDialogButtonBox::rejected, this, &DlgMailProfiles::reject);
    connect(buttons, &QDialogButtonBox::helpRequested, this,
            [] { Help().ShowTopic(kHelpContextMailProfiles); });
    new QShortcut(QKeySequence::HelpContents, this, this,
                  [] { Help().ShowTopic(kHelpContextMailProfiles); });

    connect(m_new, &QPushButton::clicked, this, &DlgMailProfiles::OnNew);
    connect(m_edit, &QPushButton::clicked, this, &DlgMailProfiles::OnEdit);
    connect(m_remove, &QPushButton::clicked, this, &DlgMailProfiles::OnRemove);
    connect(m_default, &QPushButton::clicked, this, &DlgMailProfiles::OnSetDefault);
    connect(m_list, &QTreeWidget::itemSelectionChanged, this, &DlgMailProfiles::EnableButtons);
    connect(m_list, &QTreeWidget::itemActivated, this, &DlgMailProfiles::OnEdit);

    auto* top = new QHBoxLayout;
    auto* left = new QVBoxLayout;
    left->addWidget(listLabel);
    left->addWidget(m_list, 1);
    top->addLayout(left, 1);
    top->addLayout(side);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top, 1);
    layout->addWidget(m_notice);
    layout->addWidget(buttons);
    Reload();
    m_list->setFocus();
}

void DlgMailProfiles::SetEditorHook(std::function<void(DlgProfileEditor&)> hook) {
    EditorHook() = std::move(hook);
}

QString DlgMailProfiles::Notice() const {
    return m_notice->isHidden() ? QString() : m_notice->text();
}

void DlgMailProfiles::SetNotice(const QString& text) {
    m_notice->setText(text);
    m_notice->setVisible(!text.isEmpty());
}

QString DlgMailProfiles::SelectedName() const {
    const QList<QTreeWidgetItem*> selected = m_list->selectedItems();
    return selected.isEmpty() ? QString() : selected.front()->text(kName);
}

void DlgMailProfiles::EnableButtons() {
    const bool any = !SelectedName().isNull();
    m_edit->setEnabled(any);
    m_remove->setEnabled(any);
    m_default->setEnabled(any && m_list->selectedItems().front()->text(kDefault) != tr("yes"));
}

void DlgMailProfiles::Reload() {
    const QString keep = SelectedName();
    m_list->clear();
    mail::Profiles profiles;
    std::string error;
    if (!profiles.Load(error))
        SetNotice(QString::fromStdString(error));
    for (const mail::Profile& profile : profiles.All()) {
        auto* item = new QTreeWidgetItem(m_list);
        item->setText(kName, QString::fromStdString(profile.name));
        item->setText(kDefault, profile.name == profiles.DefaultName() ? tr("yes") : tr("no"));
        item->setText(kMailSystem, QString::fromStdString(profile.mailSystem));
        item->setText(kTransport,
                      QString::fromStdString(mail::DescribeTransport(profile.transport)));
        if (item->text(kName) == keep || (keep.isNull() && m_list->topLevelItemCount() == 1))
            item->setSelected(true);
    }
    for (int column = 0; column < kColumns; ++column)
        m_list->resizeColumnToContents(column);
    EnableButtons();
}

void DlgMailProfiles::RunEditor(DlgProfileEditor& editor) {
    if (EditorHook())
        EditorHook()(editor);
    if (editor.exec() != QDialog::Accepted)
        return;
    SetNotice(Joined(editor.Warnings()));
    Reload();
    for (int i = 0; i < m_list->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = m_list->topLevelItem(i);
        item->setSelected(item->text(kName) == editor.ProfileName());
    }
}

void DlgMailProfiles::OnNew() {
    DlgProfileEditor editor(std::nullopt, this);
    RunEditor(editor);
}

void DlgMailProfiles::OnEdit() {
    const QString name = SelectedName();
    if (name.isNull())
        return;
    mail::Profiles profiles;
    std::string error;
    const mail::Profile* profile =
        profiles.Load(error) ? profiles.Find(name.toStdString()) : nullptr;
    if (!profile) {
        SetNotice(error.empty() ? tr("There is no profile \"%1\" any more.").arg(name)
                                : QString::fromStdString(error));
        Reload();
        return;
    }
    DlgProfileEditor editor(*profile, this);
    RunEditor(editor);
}

void DlgMailProfiles::OnRemove() {
    const QString name = SelectedName();
    if (name.isNull())
        return;
    if (MessageBoxes().Show(tr("Remove the mail profile \"%1\"?").arg(name).toStdString(),
                            windowTitle().toStdString(), MB_YESNO | MB_ICONQUESTION) != IDYES)
        return;
    const admin::ChangeResult result = admin::RemoveProfile(name.toStdString());
    SetNotice(QString::fromStdString(result.code ? result.error : "") + Joined(result.warnings));
    Reload();
}

void DlgMailProfiles::OnSetDefault() {
    const QString name = SelectedName();
    if (name.isNull())
        return;
    const admin::ChangeResult result = admin::SetDefaultProfile(name.toStdString());
    SetNotice(QString::fromStdString(result.error));
    Reload();
}
