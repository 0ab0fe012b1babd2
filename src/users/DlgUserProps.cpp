// The user properties dialog.
#include "users/DlgUserProps.h"

#include "core/Help.h"
#include "core/MessageBoxes.h"
#include "core/Text.h"
#include "users/DialogRules.h"
#include "users/DialogUnits.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QShortcut>
#include <QStandardItemModel>
#include <algorithm>
#include <vector>

namespace {

constexpr const char* kCaption = "User Properties";
// Pager items: the stored bytes of the name. Mailbox items: the GALEntryStru, or 0.
constexpr int kBytesRole = Qt::UserRole;
constexpr int kEntryRole = Qt::UserRole + 1;
// The interval box takes as many digits as the largest interval has.
constexpr int kIntervalDigits = 5;

struct ComboItem {
    QString text;
    QVariant data;
};

QStandardItem* NewItem(const ComboItem& item, int role) {
    auto* row = new QStandardItem(item.text);
    row->setData(item.data, role);
    row->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    row->setEditable(false);
    return row;
}

// Replaces the items of `combo` by `items`, sorted without regard to case, and selects nothing.
void FillSorted(QComboBox* combo, std::vector<ComboItem> items, int role) {
    std::stable_sort(items.begin(), items.end(), [](const ComboItem& a, const ComboItem& b) {
        return LessIgnoringCase(a.text, b.text);
    });
    auto* model = new QStandardItemModel(combo);
    QList<QStandardItem*> rows;
    rows.reserve(static_cast<qsizetype>(items.size()));
    for (const ComboItem& item : items)
        rows.append(NewItem(item, role));
    if (!rows.isEmpty())
        model->appendColumn(rows);
    combo->setModel(model); // deletes the previous model, which the combo box owned
    combo->setCurrentIndex(-1);
}

// Adds `item` where it sorts (after the items equal to it but for case); returns its index.
int InsertSorted(QComboBox* combo, const ComboItem& item, int role) {
    auto* model = static_cast<QStandardItemModel*>(combo->model());
    int at = 0;
    const int count = combo->count();
    while (at < count && !LessIgnoringCase(item.text, combo->itemText(at)))
        ++at;
    model->insertRow(at, NewItem(item, role));
    return at;
}

QComboBox* NewCombo(QWidget* parent, const char* name) {
    auto* combo = new QComboBox(parent);
    combo->setObjectName(name);
    combo->setEditable(true);
    combo->setInsertPolicy(QComboBox::NoInsert); // Return never adds what was typed
    combo->setCompleter(nullptr);                // the dialog's own typing rule completes
    combo->setDuplicatesEnabled(true);
    combo->setModel(new QStandardItemModel(combo));
    return combo;
}

QPushButton* NewButton(QWidget* parent, const char* text, const char* name) {
    auto* button = new QPushButton(QString::fromLatin1(text), parent);
    button->setObjectName(name);
    return button;
}

// Places `widget` at `rect`, made as tall as the widget needs if the template's height is less.
void Place(QWidget* widget, QRect rect) {
    rect.setHeight(std::max(rect.height(), widget->sizeHint().height()));
    widget->setGeometry(rect);
}

} // namespace

DlgUserProps::DlgUserProps(UserlistStru* user, const GALNameList& galNames,
                           const GALEntryList& galEntries, QWidget* parent)
    : QDialog(parent), PageOnlyOOF(user && user->PageOnlyOOF ? 1 : 0),
      IntervalText(user ? std::to_string(user->ScanInterval) : CString("60")), User(user),
      GALNames(galNames), GALEntries(galEntries) {
    setObjectName("DlgUserProps");
    setWindowTitle(QString::fromLatin1(kCaption));
    setModal(true);

    // Template 144, 341 x 82 dialog units, in its tab order.
    auto* mailboxLabel = new QLabel(QStringLiteral("Mailbox Name"), this);
    m_mailbox = NewCombo(this, "mailboxCombo");
    auto* pagerLabel = new QLabel(QStringLiteral("Pager Name"), this);
    m_pager = NewCombo(this, "pagerCombo");
    m_pageOnlyOOF = new QCheckBox(QStringLiteral("Page only when out of office"), this);
    m_pageOnlyOOF->setObjectName("pageOnlyOOFCheck");
    auto* everyLabel = new QLabel(QStringLiteral("Scan schedule file every"), this);
    m_interval = new QLineEdit(this);
    m_interval->setObjectName("intervalEdit");
    m_interval->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), m_interval));
    m_interval->setMaxLength(kIntervalDigits);
    auto* minutesLabel = new QLabel(QStringLiteral("minutes for new reminders."), this);
    m_ok = NewButton(this, "&OK", "okButton");
    m_ok->setDefault(true);
    m_ok->setEnabled(false);
    m_cancel = NewButton(this, "&Cancel", "cancelButton");
    m_help = NewButton(this, "&Help", "helpButton");

    DialogUnits du(font());
    du.FitWidth(mailboxLabel->sizeHint().width(), 46);
    du.FitWidth(pagerLabel->sizeHint().width(), 40);
    du.FitWidth(m_pageOnlyOOF->sizeHint().width(), 106);
    du.FitWidth(everyLabel->sizeHint().width(), 78);
    du.FitWidth(minutesLabel->sizeHint().width(), 84);
    // The interval box shows every digit it takes; what follows it on its line moves along.
    // (A line edit's size hint is 17 'x' wide plus its frame and margins.)
    const QFontMetrics metrics = m_interval->fontMetrics();
    const int digitsWidth = m_interval->sizeHint().width() -
                            17 * metrics.horizontalAdvance(QLatin1Char('x')) +
                            metrics.horizontalAdvance(QString(kIntervalDigits, QLatin1Char('0')));
    const int widened = std::max(0, digitsWidth - du.X(18));

    Place(mailboxLabel, du.Rect(6, 10, 46, 8));
    Place(m_mailbox, du.Rect(57, 7, 277, 12));
    Place(pagerLabel, du.Rect(6, 28, 40, 8));
    Place(m_pager, du.Rect(57, 25, 164, 12));
    Place(m_pageOnlyOOF, du.Rect(227, 27, 106, 10));
    Place(everyLabel, du.Rect(6, 46, 78, 8));
    Place(m_interval, du.Rect(89, 43, 18, 14).adjusted(0, 0, widened, 0));
    Place(minutesLabel, du.Rect(112, 46, 84, 8).translated(widened, 0));
    Place(m_ok, du.Rect(6, 61, 50, 14));
    Place(m_cancel, du.Rect(63, 61, 50, 14));
    Place(m_help, du.Rect(284, 61, 50, 14));
    // The templates' combo box heights are those of their dropped-down lists.
    m_mailbox->setMaxVisibleItems(std::max(5, (du.Y(174) - m_mailbox->height()) / du.BaseY()));
    m_pager->setMaxVisibleItems(std::max(5, (du.Y(155) - m_pager->height()) / du.BaseY()));
    setFixedSize(du.Size(341, 82));

    setTabOrder(m_mailbox, m_pager);
    setTabOrder(m_pager, m_pageOnlyOOF);
    setTabOrder(m_pageOnlyOOF, m_interval);
    setTabOrder(m_interval, m_ok);
    setTabOrder(m_ok, m_cancel);
    setTabOrder(m_cancel, m_help);

    connect(m_ok, &QPushButton::clicked, this, &DlgUserProps::OnOK);
    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_help, &QPushButton::clicked, this, &DlgUserProps::OnHelp);
    new QShortcut(QKeySequence::HelpContents, this, this, &DlgUserProps::OnHelp);
    for (QComboBox* combo : {m_mailbox, m_pager}) {
        connect(combo, &QComboBox::currentIndexChanged, this, [this, combo] {
            if (m_completing)
                return;
            (combo == m_mailbox ? m_mailboxTyped : m_pagerTyped) =
                static_cast<int>(combo->currentText().size());
            OnChange();
        });
        connect(combo->lineEdit(), &QLineEdit::textEdited, this, [this, combo] {
            OnTextEdited(combo, combo == m_mailbox ? m_mailboxTyped : m_pagerTyped);
        });
    }
}

DlgUserProps::~DlgUserProps() = default;

int DlgUserProps::DoModal() {
    return exec() == QDialog::Accepted ? IDOK : IDCANCEL;
}

void DlgUserProps::showEvent(QShowEvent* event) {
    if (!m_initialised) {
        m_initialised = true;
        OnInitDialog();
    }
    QDialog::showEvent(event);
}

bool DlgUserProps::OnInitDialog() {
    UpdateData(false);
    OnChange();
    m_completing = true;
    FillPagerCombo();
    FillMailboxCombo();
    m_completing = false;
    m_mailboxTyped = static_cast<int>(m_mailbox->currentText().size());
    m_pagerTyped = static_cast<int>(m_pager->currentText().size());
    OnChange();
    m_mailbox->setFocus();
    return false;
}

void DlgUserProps::FillPagerCombo() {
    std::vector<ComboItem> items;
    if (GALNames.empty()) {
        items.push_back({QString(), QByteArray()});
    } else {
        items.reserve(GALNames.size());
        for (const CString& name : GALNames)
            items.push_back({ToDisplayText(name), QByteArray::fromStdString(name)});
    }
    FillSorted(m_pager, std::move(items), kBytesRole);
    if (!User || User->PagerName.empty())
        return; // no pager chosen yet: the user picks or types one

    // The entry whose name is the stored pager name byte for byte; otherwise the stored name as
    // an item of its own. A name that only begins another (Bob, with Bobby Smith listed) must
    // not turn into it, or an unchanged user would be paged at someone else's pager.
    int index = -1;
    const QByteArray stored = QByteArray::fromStdString(User->PagerName);
    for (int i = 0; i < m_pager->count(); ++i) {
        if (m_pager->itemData(i, kBytesRole).toByteArray() == stored) {
            index = i;
            break;
        }
    }
    if (index < 0)
        index = InsertSorted(m_pager, {ToDisplayText(User->PagerName), stored}, kBytesRole);
    m_pager->setCurrentIndex(index);
}

void DlgUserProps::FillMailboxCombo() {
    std::vector<ComboItem> items;
    const GALEntryStru* own = nullptr;
    if (GALEntries.empty()) {
        items.push_back({QString(), QVariant::fromValue<quintptr>(0)});
    } else {
        items.reserve(GALEntries.size());
        for (const auto& entry : GALEntries) {
            items.push_back({ToDisplayText(entry->DisplayName),
                             QVariant::fromValue(reinterpret_cast<quintptr>(entry.get()))});
            // The user's own entry: its address, and where two entries share the address, the
            // one on the user's home store. A later match replaces an earlier one.
            if (User && entry->Address == User->MailboxName &&
                (!own || entry->Server == User->Server || own->Server != User->Server))
                own = entry.get();
        }
    }
    FillSorted(m_mailbox, std::move(items), kEntryRole);
    // Selected by the entry itself, not by its name: two entries may share a display name, and
    // OK must keep the user's own mailbox and server.
    if (own) {
        const int index = m_mailbox->findData(QVariant::fromValue(reinterpret_cast<quintptr>(own)),
                                              kEntryRole, Qt::MatchExactly);
        m_mailbox->setCurrentIndex(index);
    }
}

int DlgUserProps::SelectString(QComboBox* combo, const QString& text) const {
    QStringList items;
    items.reserve(combo->count());
    for (int i = 0; i < combo->count(); ++i)
        items.append(combo->itemText(i));
    return SelectStringIndex(items, text);
}

void DlgUserProps::OnTextEdited(QComboBox* combo, int& typedLength) {
    QLineEdit* edit = combo->lineEdit();
    const QString text = edit->text();
    const int cursor = edit->cursorPosition();
    // Completion only when the user has added to the end of what they typed; deleting must not
    // bring the deleted completion back.
    const bool added = text.size() > typedLength && cursor == text.size();
    typedLength = static_cast<int>(text.size());

    m_completing = true;
    int index = added ? SelectString(combo, text) : -1;
    if (index >= 0) {
        combo->setCurrentIndex(index);
        const QString item = combo->itemText(index);
        edit->setText(item);
        edit->setSelection(static_cast<int>(item.size()),
                           -static_cast<int>(item.size() - text.size()));
    } else {
        // Still selected only when the text names an item exactly; an empty text names nothing.
        if (!text.isEmpty()) {
            for (int i = 0; i < combo->count() && index < 0; ++i) {
                if (combo->itemText(i) == text)
                    index = i;
            }
        }
        combo->setCurrentIndex(index); // -1 empties the text: put back what was typed
        edit->setText(text);
        edit->setCursorPosition(cursor);
    }
    m_completing = false;
    OnChange();
}

void DlgUserProps::UpdateData(bool fromControls) {
    if (fromControls) {
        MailboxText = FromTypedText(m_mailbox->currentText());
        PagerText = PagerBytes();
        PageOnlyOOF = m_pageOnlyOOF->isChecked() ? 1 : 0;
        IntervalText = FromTypedText(m_interval->text());
    } else {
        m_mailbox->setEditText(ToDisplayText(MailboxText));
        m_pager->setEditText(ToDisplayText(PagerText));
        m_pageOnlyOOF->setChecked(PageOnlyOOF != 0);
        m_interval->setText(ToDisplayText(IntervalText));
    }
}

CString DlgUserProps::PagerBytes() const {
    const int index = m_pager->currentIndex();
    if (index >= 0 && m_pager->itemText(index) == m_pager->currentText())
        return m_pager->itemData(index, kBytesRole).toByteArray().toStdString();
    return FromTypedText(m_pager->currentText());
}

const GALEntryStru* DlgUserProps::SelectedEntry() const {
    const int index = m_mailbox->currentIndex();
    if (index < 0)
        return nullptr;
    return reinterpret_cast<const GALEntryStru*>(
        m_mailbox->itemData(index, kEntryRole).value<quintptr>());
}

void DlgUserProps::OnChange() {
    UpdateData(true);
    m_ok->setEnabled(m_mailbox->currentIndex() >= 0 &&
                     (!PagerText.empty() || m_pager->currentIndex() >= 0));
}

void DlgUserProps::Refuse(const CString& text, QWidget* focus) {
    AfxMessageBox(text, kCaption, MB_OK | MB_ICONSTOP);
    focus->setFocus();
    if (auto* edit = qobject_cast<QLineEdit*>(focus))
        edit->selectAll();
    else if (auto* combo = qobject_cast<QComboBox*>(focus))
        combo->lineEdit()->selectAll();
}

void DlgUserProps::OnOK() {
    if (!m_ok->isEnabled() || !User)
        return; // Return pressed while the input is incomplete
    UpdateData(true);

    // Everything is checked before anything is written: the user file cannot hold larger
    // intervals or longer texts, and a control character would break the page's address.
    int16_t minutes = 0;
    if (ScanIntervalFromText(IntervalText, &minutes) == IntervalText::TooLarge) {
        Refuse("The scan interval can be at most " + std::to_string(kMaxScanInterval) +
                   " minutes (about 22 days); " + IntervalText + " minutes cannot be stored.",
               m_interval);
        return;
    }
    if (HasControlCharacter(PagerText)) {
        Refuse("The pager name must not contain tabs, line breaks or other control characters.",
               m_pager);
        return;
    }
    UserlistStru edited;
    CopyUserConfiguration(edited, *User);
    if (const GALEntryStru* entry = SelectedEntry()) {
        edited.MailboxName = entry->Address;
        edited.Server = entry->Server;
        edited.DisplayName = entry->DisplayName;
    }
    edited.PagerName = PagerText;
    edited.PageOnlyOOF = PageOnlyOOF;
    edited.ScanInterval = minutes;
    const CString problem = CheckUserStrings(edited);
    if (!problem.empty()) {
        Refuse(problem, edited.PagerName.size() > kMaxUserStringLength ? m_pager : m_mailbox);
        return;
    }

    CopyUserConfiguration(*User, edited);
    accept();
}

void DlgUserProps::OnHelp() {
    Help().ShowTopic(kHelpContextUserProps);
}
