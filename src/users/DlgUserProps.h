// DlgUserProps: the modal "User Properties" dialog in which one user's mailbox, pager name, scan
// interval and "Page only when out of office" are chosen.
#pragma once

#include "core/CString.h"
#include "core/MessageBoxes.h"
#include "users/GALEntryStru.h"
#include "users/UserlistStru.h"

#include <QDialog>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

// Works on one record of the user list dialog's working list and writes into it only when it
// ends with OK. The address-list data belongs to the caller and is only read.
//
// Both combo boxes keep their items sorted without regard to case. Typing into one selects, by
// the select-string rule (the first item that begins with the typed text, ignoring case), the
// item it names and completes the text with the rest of that item's name, selected, so that
// typing on replaces it and Delete leaves just what was typed; a text that begins no item
// leaves nothing selected. What OK stores is exactly what is shown: the chosen entry's bytes,
// or the typed text.
class DlgUserProps : public QDialog {
    Q_OBJECT
public:
    // Control identifiers of the dialog's template.
    enum : int {
        IDC_INTERVAL = 1162,
        IDC_PAGE_ONLY_OOF = 1163,
        IDC_PAGER = 1166,
        IDC_MAILBOX = 1167,
    };

    DlgUserProps(UserlistStru* user, const GALNameList& galNames, const GALEntryList& galEntries,
                 QWidget* parent = nullptr);
    ~DlgUserProps() override;

    // Runs the dialog modally; IDOK or IDCANCEL.
    int DoModal();

    CString MailboxText; // the mailbox combo box's text (exchanged, not otherwise used)
    CString PagerText;   // the pager combo box's text: becomes the pager name
    int PageOnlyOOF;     // the check box: 0 or 1
    CString IntervalText;

protected:
    void showEvent(QShowEvent* event) override;

private:
    // Fills and preselects the combo boxes; false, as it sets the focus itself.
    bool OnInitDialog();
    // Enables OK exactly when a mailbox is selected and a pager name is typed or selected.
    void OnChange();
    void OnOK();
    void OnHelp();
    // From the controls into the members (true) or back (false).
    void UpdateData(bool fromControls);

    void FillPagerCombo();
    void FillMailboxCombo();
    // The select-string rule on one combo box's items; -1 when no item matches.
    int SelectString(QComboBox* combo, const QString& text) const;
    // The typing rule described above; `typedLength` is how much of the text the user typed.
    void OnTextEdited(QComboBox* combo, int& typedLength);
    // The chosen entry of the mailbox combo box, or null (none selected, or the empty item).
    const GALEntryStru* SelectedEntry() const;
    // The stored bytes for the pager combo box's text.
    CString PagerBytes() const;
    // Tells why OK was refused and puts the focus where the fault is.
    void Refuse(const CString& text, QWidget* focus);

    UserlistStru* User;
    const GALNameList& GALNames;
    const GALEntryList& GALEntries;

    QComboBox* m_mailbox = nullptr;
    QComboBox* m_pager = nullptr;
    QCheckBox* m_pageOnlyOOF = nullptr;
    QLineEdit* m_interval = nullptr;
    QPushButton* m_ok = nullptr;
    QPushButton* m_cancel = nullptr;
    QPushButton* m_help = nullptr;
    int m_mailboxTyped = 0; // characters of the mailbox text typed by the user
    int m_pagerTyped = 0;   // characters of the pager text typed by the user
    bool m_initialised = false;
    bool m_completing = false; // set while the typing rule changes a combo box itself
};
