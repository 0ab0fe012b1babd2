// Page identities: a hash of what makes a page the page of one reminder for one pager.
#include "paging/PageIdentity.h"

#include "paging/CRemList.h"

#include <QCryptographicHash>
#include <string>

namespace {

constexpr int kReminderLeadSeconds = 60; // a page falls due one minute before its reminder

void AddField(QCryptographicHash& hash, const std::string& field) {
    const std::string length = std::to_string(field.size()) + ":";
    hash.addData(QByteArrayView(length.data(), static_cast<qsizetype>(length.size())));
    hash.addData(QByteArrayView(field.data(), static_cast<qsizetype>(field.size())));
}

} // namespace

CString PageIdentity(const CString& mailbox, const CString& pager, const ReminderStru& reminder) {
    QCryptographicHash hash(QCryptographicHash::Sha256);
    // A version, so that a later change of the fields cannot collide with these identities.
    AddField(hash, "orvane-page-1");
    AddField(hash, mailbox);
    AddField(hash, pager);
    AddField(hash, std::to_string(static_cast<int64_t>(reminder.PageTime.GetTime())));
    AddField(hash, reminder.TimeKey);
    AddField(hash, reminder.Text);
    return hash.result().left(16).toHex().toStdString();
}

PageDescription DescribePage(const CString& userName, const CString& mailbox, const CString& pager,
                             const ReminderStru& reminder) {
    PageDescription page;
    page.UserName = userName;
    page.PageTime = reminder.PageTime;
    page.ReminderTime = reminder.PageTime + CTimeSpan(kReminderLeadSeconds);
    page.Identity = PageIdentity(mailbox, pager, reminder);
    return page;
}
