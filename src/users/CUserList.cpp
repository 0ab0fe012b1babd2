// The user list: creation, copies, code search and reuse, deletion and ordering.
#include "users/CUserList.h"

#include "outlook/COutlook.h"
#include "paging/COOFCheck.h"

#include <algorithm>
#include <new>
#include <vector>

namespace {

// Codes handed out by the search wrap from here back to 1.
constexpr int kLastWrappingCode = 32000;
// The largest value a 16-bit code holds.
constexpr int kLargestCode = 32767;

} // namespace

void CopyUserConfiguration(UserlistStru& to, const UserlistStru& from) {
    to.Code = from.Code;
    to.ScanInterval = from.ScanInterval;
    to.PageOnlyOOF = from.PageOnlyOOF;
    to.MailboxName = from.MailboxName;
    to.Server = from.Server;
    to.PagerName = from.PagerName;
    to.DisplayName = from.DisplayName;
}

CString CheckUserStrings(const UserlistStru& user) {
    const struct {
        const char* name;
        const CString& value;
    } fields[] = {{"display name", user.DisplayName},
                  {"mailbox name", user.MailboxName},
                  {"server", user.Server},
                  {"pager name", user.PagerName}};
    for (const auto& f : fields) {
        if (f.value.size() > kMaxUserStringLength)
            return CString("The ") + f.name + " is " + std::to_string(f.value.size()) +
                   " characters long; at most " + std::to_string(kMaxUserStringLength) +
                   " characters can be stored.";
    }
    return CString();
}

CUserList::CUserList() = default;

CUserList::~CUserList() {
    DeleteAllUsers();
    CloseOutlookOLE();
}

CUserList& CUserList::operator=(const CUserList& source) {
    if (this == &source)
        return *this;
    DeleteAllUsers();
    for (const auto& user : source.m_users)
        CreateUser(user.get());
    return *this;
}

int CUserList::FindUniqueCode(CString& whyNot) {
    if (NextCode < 1 || NextCode > kLargestCode) {
        whyNot = "No user code is left to hand out: codes end at " + std::to_string(kLargestCode) +
                 ". Restart Orvane to search the free codes from 1 again.";
        return 0;
    }
    std::vector<bool> used(kLargestCode + 1, false);
    for (const auto& user : m_users) {
        if (user->Code >= 1)
            used[static_cast<size_t>(user->Code)] = true;
    }
    // Every candidate after the first lies in 1..32000, so 32001 tries visit each one.
    int candidate = NextCode;
    for (int tries = 0; tries <= kLastWrappingCode; ++tries) {
        if (!used[static_cast<size_t>(candidate)]) {
            NextCode = candidate + 1;
            return candidate;
        }
        if (++candidate > kLastWrappingCode)
            candidate = 1;
    }
    whyNot = "No user code is free: the list already holds " + std::to_string(m_users.size()) +
             " users, the most it can hold.";
    return 0;
}

UserlistStru* CUserList::CreateUser() {
    CString whyNot;
    return CreateUser(whyNot);
}

UserlistStru* CUserList::CreateUser(CString& whyNot) {
    const int code = FindUniqueCode(whyNot);
    if (code == 0)
        return nullptr;
    UserlistStru* user = CreateNoCodeUser();
    user->Code = static_cast<int16_t>(code);
    return user;
}

UserlistStru* CUserList::CreateNoCodeUser() {
    m_users.push_back(std::make_unique<UserlistStru>());
    return m_users.back().get();
}

UserlistStru* CUserList::CreateUser(const UserlistStru* source) {
    if (!source)
        return nullptr;
    auto copy = std::unique_ptr<UserlistStru>(new (std::nothrow) UserlistStru);
    if (!copy)
        return nullptr;
    CopyUserConfiguration(*copy, *source);
    m_users.push_back(std::move(copy));
    return m_users.back().get();
}

void CUserList::DeleteUser(UserlistStru* user) {
    if (!user)
        return;
    auto it = std::find_if(m_users.begin(), m_users.end(),
                           [user](const auto& p) { return p.get() == user; });
    if (it != m_users.end()) {
        if (user->Code >= 1 && user->Code < NextCode)
            NextCode = user->Code;
        m_users.erase(it); // frees the record
        m_OOFRoundTaken = 0; // the round's count of its Server's users no longer holds
    } else {
        delete user; // not ours, but handed to us for deletion all the same
    }
}

void CUserList::DeleteAllUsers() {
    while (!m_users.empty())
        m_users.pop_front();
    NextCode = 1;
    // A round in progress reads the users of its current Server from the first again: the
    // records that come in place of these have not been read.
    m_OOFRoundTaken = 0;
}

void CUserList::SortByServer() {
    const size_t n = m_users.size();
    if (n < 2)
        return;
    // Array indexed 1 to n, as the classic sort is written.
    std::vector<std::unique_ptr<UserlistStru>> a;
    try {
        a.reserve(n + 1);
    } catch (const std::bad_alloc&) {
        return; // the list stays as it was
    }
    a.emplace_back();
    for (auto& p : m_users)
        a.push_back(std::move(p));
    m_users.clear();

    for (size_t gap = n / 2; gap != 0; gap /= 2) {
        for (size_t i = 1; i <= n - gap; ++i) {
            size_t j = i;
            do {
                if (a[j]->Server > a[j + gap]->Server) {
                    std::swap(a[j], a[j + gap]);
                    j = j > gap ? j - gap : 0;
                } else {
                    j = 0;
                }
            } while (j >= 1);
        }
    }
    for (size_t i = 1; i <= n; ++i)
        m_users.push_back(std::move(a[i]));
}
