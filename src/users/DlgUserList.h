// DlgUserList: the modal "User List" dialog in which the monitored users are added, edited and
// removed, over the Exchange global address list.
#pragma once

#include "core/MessageBoxes.h"
#include "users/CUserList.h"
#include "users/GALEntryStru.h"

#include <QDialog>

class QListWidget;
class QPushButton;

// Edits a private copy of the list it is given (`WorkList`) and writes it back into that list
// only when it ends with OK; Cancel drops every change, new codes included. The global address
// list is read anew each time the dialog opens, from the default mail profile; when it cannot
// be read the dialog still works, showing stored mailbox names, and says nothing.
class DlgUserList : public QDialog {
    Q_OBJECT
public:
    // Control identifiers of the dialog's template.
    enum : int {
        IDC_NEW = 1076,
        IDC_USER_LIST = 1111,
        IDC_EDIT = 1163,
        IDC_REMOVE = 1167,
    };

    // `list` (not owned) must outlive the dialog.
    explicit DlgUserList(CUserList* list, QWidget* parent = nullptr);
    ~DlgUserList() override;

    // Runs the dialog modally; IDOK (the list given now holds the edited users) or IDCANCEL.
    int DoModal();

    // What the opening read of the address list found (empty before the dialog is shown).
    const GALNameList& Names() const { return GALNames; }
    const GALEntryList& Entries() const { return GALEntries; }
    const CUserList& Working() const { return WorkList; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    bool OnInitDialog();
    void OnNew();
    void OnEdit();
    void OnRemove();
    void OnSelchangeUserList();
    void OnOK();
    void OnHelp();
    void GetGALContents();
    CString GetDisplayName(const CString& mailboxName) const;
    void FillUserList();
    // The records of the selected items, in the list box's order.
    std::vector<UserlistStru*> SelectedUsers() const;

    QPushButton* m_remove = nullptr;
    QPushButton* m_edit = nullptr;
    QListWidget* m_users = nullptr;
    CUserList WorkList;
    CUserList* TargetList;
    GALNameList GALNames;
    GALEntryList GALEntries;
    bool m_initialised = false;
};
