// The user list dialog.
#include "users/DlgUserList.h"

#include "core/Help.h"
#include "core/MessageBoxes.h"
#include "users/DialogRules.h"
#include "users/DialogUnits.h"
#include "users/DlgUserProps.h"
#include "users/GlobalAddressList.h"

#include <QGroupBox>
#include <QListWidget>
#include <QPushButton>
#include <QShortcut>
#include <algorithm>

namespace {

constexpr const char* kCaption = "User List";
constexpr const char* kRemoveCaption = "Remove User";
constexpr int kUserRole = Qt::UserRole; // the item's UserlistStru

QPushButton* NewButton(QWidget* parent, const char* text, const char* name, QRect rect) {
    auto* button = new QPushButton(QString::fromLatin1(text), parent);
    button->setObjectName(name);
    button->setGeometry(rect);
    return button;
}

} // namespace

DlgUserList::DlgUserList(CUserList* list, QWidget* parent) : QDialog(parent), TargetList(list) {
    if (TargetList)
        WorkList = *TargetList;
    setObjectName("DlgUserList");
    setWindowTitle(QString::fromLatin1(kCaption));
    setModal(true);

    // Template 146, 309 x 170 dialog units. The group box comes first so that it lies beneath
    // the controls it frames; the others follow in the template's tab order.
    const DialogUnits du(font());
    auto* group = new QGroupBox(QStringLiteral("Configured Users"), this);
    group->setObjectName("configuredUsersGroup");
    group->setGeometry(du.Rect(7, 7, 295, 131));
    QPushButton* ok = NewButton(this, "&OK", "okButton", du.Rect(7, 149, 50, 14));
    ok->setDefault(true);
    QPushButton* cancel = NewButton(this, "&Cancel", "cancelButton", du.Rect(75, 149, 50, 14));
    m_users = new QListWidget(this);
    m_users->setObjectName("userList");
    m_users->setGeometry(du.Rect(15, 18, 238, 120));
    m_users->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_users->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_users->setUniformItemSizes(true);
    QPushButton* add = NewButton(this, "&New...", "newButton", du.Rect(259, 18, 35, 14));
    m_edit = NewButton(this, "&Edit...", "editButton", du.Rect(259, 37, 35, 14));
    m_remove = NewButton(this, "&Remove", "removeButton", du.Rect(259, 118, 35, 14));
    QPushButton* help = NewButton(this, "&Help", "helpButton", du.Rect(252, 149, 50, 14));
    m_edit->setEnabled(false);
    m_remove->setEnabled(false);
    setFixedSize(du.Size(309, 170));

    setTabOrder(ok, cancel);
    setTabOrder(cancel, m_users);
    setTabOrder(m_users, add);
    setTabOrder(add, m_edit);
    setTabOrder(m_edit, m_remove);
    setTabOrder(m_remove, help);

    connect(ok, &QPushButton::clicked, this, &DlgUserList::OnOK);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(add, &QPushButton::clicked, this, &DlgUserList::OnNew);
    connect(m_edit, &QPushButton::clicked, this, &DlgUserList::OnEdit);
    connect(m_remove, &QPushButton::clicked, this, &DlgUserList::OnRemove);
    connect(help, &QPushButton::clicked, this, &DlgUserList::OnHelp);
    connect(m_users, &QListWidget::itemSelectionChanged, this, &DlgUserList::OnSelchangeUserList);
    connect(m_users, &QListWidget::itemDoubleClicked, this, &DlgUserList::OnEdit);
    new QShortcut(QKeySequence::HelpContents, this, this, &DlgUserList::OnHelp);
}

DlgUserList::~DlgUserList() = default;

int DlgUserList::DoModal() {
    return exec() == QDialog::Accepted ? IDOK : IDCANCEL;
}

void DlgUserList::showEvent(QShowEvent* event) {
    if (!m_initialised) {
        m_initialised = true;
        OnInitDialog();
    }
    QDialog::showEvent(event);
}

bool DlgUserList::OnInitDialog() {
    GetGALContents();
    FillUserList();
    return true;
}

void DlgUserList::GetGALContents() {
    // Whatever could not be read stays out of the lists; the dialog says nothing about it.
    ::GetGALContents(GALNames, GALEntries);
}

CString DlgUserList::GetDisplayName(const CString& mailboxName) const {
    return ::GetDisplayName(GALEntries, mailboxName);
}

void DlgUserList::FillUserList() {
    struct Row {
        QString text;
        UserlistStru* user;
    };
    std::vector<Row> rows;
    rows.reserve(static_cast<size_t>(WorkList.GetCount()));
    for (const auto& user : WorkList.Users())
        rows.push_back({ToDisplayText(GetDisplayName(user->MailboxName)), user.get()});
    std::stable_sort(rows.begin(), rows.end(),
                     [](const Row& a, const Row& b) { return LessIgnoringCase(a.text, b.text); });

    m_users->setUpdatesEnabled(false);
    m_users->clear();
    for (const Row& row : rows) {
        auto* item = new QListWidgetItem(row.text);
        item->setData(kUserRole, QVariant::fromValue(reinterpret_cast<quintptr>(row.user)));
        m_users->addItem(item);
    }
    m_users->setUpdatesEnabled(true);
    m_edit->setEnabled(false);
    m_remove->setEnabled(false);
}

std::vector<UserlistStru*> DlgUserList::SelectedUsers() const {
    std::vector<UserlistStru*> users;
    for (int i = 0; i < m_users->count(); ++i) {
        const QListWidgetItem* item = m_users->item(i);
        if (!item->isSelected())
            continue;
        if (auto* user = reinterpret_cast<UserlistStru*>(item->data(kUserRole).value<quintptr>()))
            users.push_back(user);
    }
    return users;
}

void DlgUserList::OnSelchangeUserList() {
    const auto count = m_users->selectedItems().size();
    m_edit->setEnabled(count == 1);
    m_remove->setEnabled(count != 0);
}

void DlgUserList::OnNew() {
    CString whyNot;
    UserlistStru* user = WorkList.CreateUser(whyNot);
    if (!user) {
        AfxMessageBox(whyNot, kCaption, MB_OK | MB_ICONSTOP);
        return;
    }
    DlgUserProps properties(user, GALNames, GALEntries, this);
    if (properties.DoModal() == IDOK)
        FillUserList();
    else
        WorkList.DeleteUser(user); // its code is handed out again by the next New
}

void DlgUserList::OnEdit() {
    if (m_users->selectedItems().size() != 1)
        return;
    const std::vector<UserlistStru*> selected = SelectedUsers();
    if (selected.size() != 1)
        return;
    DlgUserProps properties(selected.front(), GALNames, GALEntries, this);
    if (properties.DoModal() == IDOK)
        FillUserList();
}

void DlgUserList::OnRemove() {
    const std::vector<UserlistStru*> selected = SelectedUsers();
    if (selected.empty())
        return;
    const CString question =
        selected.size() == 1
            ? "Are you sure you want to delete \"" + selected.front()->MailboxName +
                  "\" from the list?"
            : CString("Are you sure you want to remove the selected users from the list?");
    if (AfxMessageBox(question, kRemoveCaption, MB_YESNO | MB_ICONQUESTION) != IDYES)
        return;
    for (UserlistStru* user : selected)
        WorkList.DeleteUser(user);
    FillUserList();
}

void DlgUserList::OnOK() {
    if (TargetList)
        *TargetList = WorkList;
    accept();
}

void DlgUserList::OnHelp() {
    Help().ShowTopic(kHelpContextUserList);
}
