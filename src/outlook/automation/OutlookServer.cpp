// The served Outlook objects: session, recipients, folders, item collections and items.
#include "OutlookServer.h"

#include "DispatchObject.h"
#include "OleDate.h"
#include "OutlookDispIds.h"
#include "core/Clock.h"
#include "mailsystem/Profiles.h"

#include <algorithm>
#include <optional>
#include <strings.h>
#include <vector>

namespace automation {

using namespace outlook_id;

namespace {

MailSystemOpener& CurrentOpener() {
    static MailSystemOpener opener = OpenProfileMailSystem;
    return opener;
}

COleVariant Nothing() {
    return COleVariant(DispatchPtr());
}

COleVariant DateOf(int64_t instant) {
    DATE date = 0;
    if (!UnixTimeToVariantTime(instant, date))
        ThrowDispatchError("The date of this item cannot be represented.");
    return COleVariant::Date(date);
}

class PatternObject final : public DispatchObject {
public:
    PatternObject(ObjectContext context, const mail::RecurrencePattern& pattern)
        : DispatchObject(std::move(context)), m_pattern(pattern) {}

private:
    COleVariant InvokeMember(DISPID member, WORD flags,
                             std::span<const COleVariant> args) override {
        const int32_t* value = nullptr;
        switch (member) {
        case kRecurrenceType:
            value = &m_pattern.recurrenceType;
            break;
        case kInterval:
            value = &m_pattern.interval;
            break;
        case kInstance:
            value = &m_pattern.instance;
            break;
        case kDayOfWeekMask:
            value = &m_pattern.dayOfWeekMask;
            break;
        case kDayOfMonth:
            value = &m_pattern.dayOfMonth;
            break;
        case kMonthOfYear:
            value = &m_pattern.monthOfYear;
            break;
        default:
            ThrowCallError(DISP_E_MEMBERNOTFOUND);
        }
        ExpectGet(flags, args);
        return COleVariant(*value);
    }

    mail::RecurrencePattern m_pattern;
};

class AppointmentObject final : public DispatchObject {
public:
    AppointmentObject(ObjectContext context, mail::Appointment item)
        : DispatchObject(std::move(context)), m_item(std::move(item)) {}

private:
    COleVariant InvokeMember(DISPID member, WORD flags,
                             std::span<const COleVariant> args) override {
        if (member == kGetRecurrencePattern) {
            ExpectMethod(flags);
            ExpectArgs(args, 0);
            ObjectContext context = Context();
            context.kind = ObjectKind::RecurrencePattern;
            return COleVariant(
                DispatchPtr::Attach(new PatternObject(std::move(context), m_item.pattern)));
        }
        switch (member) {
        case kReminderSet:
        case kSubject:
        case kLocation:
        case kStart:
        case kEnd:
        case kReminderMinutesBeforeStart:
        case kIsRecurring:
            break;
        default:
            ThrowCallError(DISP_E_MEMBERNOTFOUND);
        }
        ExpectGet(flags, args);
        switch (member) {
        case kReminderSet:
            return COleVariant(m_item.reminderSet);
        case kSubject:
            return COleVariant(m_item.subject);
        case kLocation:
            return COleVariant(m_item.location);
        case kStart:
            return DateOf(m_item.start);
        case kEnd:
            return DateOf(m_item.end);
        case kReminderMinutesBeforeStart:
            return COleVariant(m_item.reminderMinutesBeforeStart);
        default:
            return COleVariant(m_item.isRecurring);
        }
    }

    mail::Appointment m_item;
};

class TaskObject final : public DispatchObject {
public:
    TaskObject(ObjectContext context, mail::Task item)
        : DispatchObject(std::move(context)), m_item(std::move(item)) {}

private:
    COleVariant InvokeMember(DISPID member, WORD flags,
                             std::span<const COleVariant> args) override {
        if (member != kReminderSet && member != kSubject && member != kReminderTime)
            ThrowCallError(DISP_E_MEMBERNOTFOUND);
        ExpectGet(flags, args);
        if (member == kReminderSet)
            return COleVariant(m_item.reminderSet);
        if (member == kSubject)
            return COleVariant(m_item.subject);
        return m_item.reminderSet ? DateOf(m_item.reminderTime) : COleVariant::Date(kOleDateNone);
    }

    mail::Task m_item;
};

// A folder's items. Find reads the store once and keeps the matches; FindNext walks them.
class ItemsObject final : public DispatchObject {
public:
    ItemsObject(ObjectContext context, std::shared_ptr<mail::MailSystem> store,
                mail::AddressEntry mailbox)
        : DispatchObject(std::move(context)), m_store(std::move(store)),
          m_mailbox(std::move(mailbox)) {}

private:
    bool IsCalendar() const { return Context().folderType == olFolderCalendar; }
    ItemClass Class() const { return IsCalendar() ? ItemClass::Appointment : ItemClass::Task; }

    COleVariant InvokeMember(DISPID member, WORD flags,
                             std::span<const COleVariant> args) override {
        switch (member) {
        case kSortAlternate:
        case kSortStandard:
            ExpectMethod(flags);
            ExpectArgs(args, 2);
            Sort(StringArg(args, 0), BoolArg(args, 1, false));
            return {};
        case kIncludeRecurrences:
            if (flags & DISPATCH_PROPERTYPUT) {
                ExpectArgs(args, 1);
                if (args.empty() || args[0].IsEmpty())
                    ThrowCallError(DISP_E_PARAMNOTOPTIONAL);
                m_includeRecurrences = BoolArg(args, 0, false);
                Reset();
                return {};
            }
            ExpectGet(flags, args);
            return COleVariant(m_includeRecurrences);
        case kFindAlternate:
        case kFindStandard:
            ExpectMethod(flags);
            ExpectArgs(args, 1);
            Find(StringArg(args, 0));
            return Current();
        case kFindNextAlternate:
        case kFindNextStandard:
            ExpectMethod(flags);
            ExpectArgs(args, 0);
            if (m_next < Count())
                ++m_next;
            return Current();
        default:
            ThrowCallError(DISP_E_MEMBERNOTFOUND);
        }
    }

    void Sort(const CString& key, bool descending) {
        ItemProperty property;
        CString error;
        if (!ParseSortProperty(key, Class(), property, error))
            ThrowDispatchError(error);
        m_sort = property;
        m_descending = descending;
        Reset();
    }

    void Reset() {
        m_appointments.clear();
        m_tasks.clear();
        m_next = 0;
    }

    template <class Item> void Order(std::vector<Item>& items) const {
        // The store gives appointments by start and tasks in file order; only another order sorts.
        if (!m_sort || (IsCalendar() && *m_sort == ItemProperty::Start && !m_descending))
            return;
        const ItemProperty property = *m_sort;
        if (m_descending)
            std::stable_sort(items.begin(), items.end(), [&](const Item& a, const Item& b) {
                return PropertyLess(property, b, a);
            });
        else
            std::stable_sort(items.begin(), items.end(), [&](const Item& a, const Item& b) {
                return PropertyLess(property, a, b);
            });
    }

    void Find(const CString& text) {
        Reset();
        CString error;
        const std::optional<RestrictionFilter> filter =
            RestrictionFilter::Parse(text, Class(), error);
        if (!filter)
            ThrowDispatchError(error);
        if (IsCalendar()) {
            const StartRange range = ExpansionRange(*filter, Clock::Now().GetTime());
            std::vector<mail::Appointment> found;
            if (range.from <= range.to &&
                !m_store->FindAppointments(m_mailbox, range.from, range.to, found, error))
                ThrowDispatchError(error);
            for (mail::Appointment& a : found) {
                // No master items are served: without IncludeRecurrences a series shows nothing.
                if ((m_includeRecurrences || !a.isRecurring) && filter->Matches(a))
                    m_appointments.push_back(std::move(a));
            }
            Order(m_appointments);
        } else {
            std::vector<mail::Task> found;
            if (!m_store->FindTasks(m_mailbox, found, error))
                ThrowDispatchError(error);
            for (mail::Task& t : found) {
                if (filter->Matches(t))
                    m_tasks.push_back(std::move(t));
            }
            Order(m_tasks);
        }
    }

    std::size_t Count() const { return IsCalendar() ? m_appointments.size() : m_tasks.size(); }

    // The item at the cursor as a new object, or Nothing past the end.
    COleVariant Current() const {
        if (m_next >= Count())
            return Nothing();
        ObjectContext context = Context();
        if (IsCalendar()) {
            context.kind = ObjectKind::AppointmentItem;
            return COleVariant(DispatchPtr::Attach(
                new AppointmentObject(std::move(context), m_appointments[m_next])));
        }
        context.kind = ObjectKind::TaskItem;
        return COleVariant(
            DispatchPtr::Attach(new TaskObject(std::move(context), m_tasks[m_next])));
    }

    std::shared_ptr<mail::MailSystem> m_store;
    mail::AddressEntry m_mailbox;
    std::optional<ItemProperty> m_sort;
    bool m_descending = false;
    bool m_includeRecurrences = false;
    std::vector<mail::Appointment> m_appointments; // the last Find's matches (calendar)
    std::vector<mail::Task> m_tasks;               // the last Find's matches (tasks)
    std::size_t m_next = 0;                        // index of the item Find or FindNext returned
};

class FolderObject final : public DispatchObject {
public:
    FolderObject(ObjectContext context, std::shared_ptr<mail::MailSystem> store,
                 mail::AddressEntry mailbox)
        : DispatchObject(std::move(context)), m_store(std::move(store)),
          m_mailbox(std::move(mailbox)) {}

private:
    COleVariant InvokeMember(DISPID member, WORD flags,
                             std::span<const COleVariant> args) override {
        if (member != kItems)
            ThrowCallError(DISP_E_MEMBERNOTFOUND);
        ExpectGet(flags, args);
        ObjectContext context = Context();
        context.kind = ObjectKind::Items;
        return COleVariant(
            DispatchPtr::Attach(new ItemsObject(std::move(context), m_store, m_mailbox)));
    }

    std::shared_ptr<mail::MailSystem> m_store;
    mail::AddressEntry m_mailbox;
};

std::string WithoutExchangePrefix(const std::string& name) {
    return name.size() >= 3 && strncasecmp(name.c_str(), "EX:", 3) == 0 ? name.substr(3) : name;
}

class RecipientObject final : public DispatchObject {
public:
    // The fault seam knows a recipient by the name it was created with, without "EX:".
    RecipientObject(std::shared_ptr<mail::MailSystem> store, std::string name)
        : DispatchObject(ObjectContext{ObjectKind::Recipient, 0, WithoutExchangePrefix(name)}),
          m_store(std::move(store)), m_name(std::move(name)) {}

    // The entry, resolving first when Resolve has not succeeded yet; throws a dispatch error
    // when the name does not stand for exactly one entry.
    const mail::AddressEntry& Entry() {
        if (!m_entry && Resolve() != Resolution::Found)
            ThrowDispatchError("The operation failed because the name \"" + m_name +
                               "\" could not be resolved.");
        return *m_entry;
    }

private:
    COleVariant InvokeMember(DISPID member, WORD flags,
                             std::span<const COleVariant> args) override {
        if (member != kResolve)
            ThrowCallError(DISP_E_MEMBERNOTFOUND);
        ExpectMethod(flags);
        ExpectArgs(args, 0);
        return COleVariant(Resolve() == Resolution::Found);
    }

    Resolution Resolve() {
        std::string error;
        mail::AddressEntry entry;
        const Resolution result = ResolveName(*m_store, m_name, entry, error);
        if (result == Resolution::Failed)
            ThrowDispatchError(error);
        if (result == Resolution::Found)
            m_entry = std::move(entry);
        else
            m_entry.reset();
        return result;
    }

    std::shared_ptr<mail::MailSystem> m_store;
    std::string m_name;
    std::optional<mail::AddressEntry> m_entry;
};

class NameSpaceObject final : public DispatchObject {
public:
    NameSpaceObject() : DispatchObject(ObjectContext{ObjectKind::NameSpace, 0, {}}) {}

private:
    COleVariant InvokeMember(DISPID member, WORD flags,
                             std::span<const COleVariant> args) override {
        switch (member) {
        case kLogon:
            Logon(flags, args);
            return {};
        case kLogoff:
            ExpectMethod(flags);
            ExpectArgs(args, 0);
            m_store.reset();
            return {};
        case kCreateRecipient: {
            ExpectMethod(flags);
            ExpectArgs(args, 1);
            CString name = StringArg(args, 0);
            if (!m_store)
                ThrowDispatchError(kNotLoggedOn);
            if (name.empty())
                ThrowDispatchError("A recipient name is required.");
            return COleVariant(DispatchPtr::Attach(new RecipientObject(m_store, std::move(name))));
        }
        case kGetSharedDefaultFolder:
            return SharedDefaultFolder(flags, args);
        default:
            ThrowCallError(DISP_E_MEMBERNOTFOUND);
        }
    }

    void Logon(WORD flags, std::span<const COleVariant> args) {
        ExpectMethod(flags);
        ExpectArgs(args, 4);
        // Profile and password may be left out; ShowDialog and NewSession change nothing here.
        const CString profile =
            args.size() > 0 && !args[0].IsEmpty() ? StringArg(args, 0) : CString();
        if (args.size() > 1 && !args[1].IsEmpty())
            StringArg(args, 1);
        BoolArg(args, 2, false);
        BoolArg(args, 3, false);
        std::string error;
        std::shared_ptr<mail::MailSystem> store = CurrentOpener()(profile, error);
        if (!store)
            ThrowDispatchError(error);
        m_store = std::move(store);
    }

    COleVariant SharedDefaultFolder(WORD flags, std::span<const COleVariant> args) {
        ExpectMethod(flags);
        ExpectArgs(args, 2);
        auto* recipient = dynamic_cast<RecipientObject*>(ObjectArg(args, 0));
        if (!recipient)
            ThrowCallError(DISP_E_TYPEMISMATCH);
        const int32_t folderType = IntArg(args, 1);
        if (!m_store)
            ThrowDispatchError(kNotLoggedOn);
        if (folderType != olFolderCalendar && folderType != olFolderTasks)
            ThrowDispatchError(
                "Only the Calendar and Tasks folders of another user can be opened.");
        const mail::AddressEntry& entry = recipient->Entry();
        if (entry.mailbox.empty())
            ThrowDispatchError(kObjectNotFound);
        return COleVariant(DispatchPtr::Attach(new FolderObject(
            ObjectContext{ObjectKind::Folder, folderType, entry.address}, m_store, entry)));
    }

    std::shared_ptr<mail::MailSystem> m_store; // null while not logged on
};

class ApplicationObject final : public DispatchObject {
public:
    ApplicationObject() : DispatchObject(ObjectContext{ObjectKind::Application, 0, {}}) {}
    ~ApplicationObject() override { automation::Release(m_namespace); }

private:
    COleVariant InvokeMember(DISPID member, WORD flags,
                             std::span<const COleVariant> args) override {
        if (member != kGetNamespace)
            ThrowCallError(DISP_E_MEMBERNOTFOUND);
        ExpectMethod(flags);
        ExpectArgs(args, 1);
        const CString type = StringArg(args, 0);
        if (strcasecmp(type.c_str(), "MAPI") != 0)
            ThrowDispatchError("The namespace \"" + type + "\" is not supported; use \"MAPI\".");
        // Like Outlook, one session per application: every call gives the same NameSpace.
        if (!m_namespace)
            m_namespace = new NameSpaceObject;
        return COleVariant(static_cast<IDispatch*>(m_namespace));
    }

    NameSpaceObject* m_namespace = nullptr; // one reference owned
};

} // namespace

IDispatch* CreateOutlookApplication() {
    return new ApplicationObject;
}

std::shared_ptr<mail::MailSystem> OpenProfileMailSystem(const std::string& profile,
                                                        std::string& error) {
    mail::Profiles profiles;
    if (!profiles.Load(error))
        return nullptr;
    const mail::Profile* found = profiles.Find(profile);
    if (!found) {
        error = profile.empty() ? "No default mail profile is set."
                                : "The mail profile \"" + profile + "\" does not exist.";
        return nullptr;
    }
    return mail::MailSystem::Open(*found, error);
}

ScopedMailSystemOpener::ScopedMailSystemOpener(MailSystemOpener opener)
    : m_previous(std::move(CurrentOpener())) {
    CurrentOpener() = std::move(opener);
}

ScopedMailSystemOpener::~ScopedMailSystemOpener() {
    CurrentOpener() = std::move(m_previous);
}

StartRange ExpansionRange(const RestrictionFilter& filter, int64_t now) {
    std::optional<int64_t> from = filter.StartFrom(), to = filter.StartTo();
    if (!from && !to)
        from = now;
    if (!from)
        from = *to - kMaxFindSpan;
    const int64_t limit = *from + kMaxFindSpan;
    return StartRange{*from, to ? std::min(*to, limit) : limit};
}

Resolution ResolveName(mail::AddressBook& book, const std::string& name, mail::AddressEntry& entry,
                       std::string& error) {
    std::vector<mail::AddressEntry> found;
    const auto result = [&]() {
        if (found.empty())
            return Resolution::NotFound;
        if (found.size() > 1)
            return Resolution::Ambiguous;
        entry = found.front();
        return Resolution::Found;
    };
    if (name.size() >= 3 && strncasecmp(name.c_str(), "EX:", 3) == 0) {
        const std::string address = WithoutExchangePrefix(name);
        if (address.empty())
            return Resolution::NotFound;
        return book.FindByAddress(address, found, error) ? result() : Resolution::Failed;
    }
    if (!book.FindByDisplayName(name, found, error))
        return Resolution::Failed;
    if (found.empty() && !book.FindByAddress(name, found, error))
        return Resolution::Failed;
    return result();
}

} // namespace automation
