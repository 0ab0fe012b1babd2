// The served Outlook objects: session, recipients, folders, item collections and items.
#include "OutlookServer.h"

#include "DispatchObject.h"
#include "OleDate.h"
#include "OutlookDispIds.h"
#include "core/Clock.h"
#include "mailsystem/ProfileMailSystem.h"
#include "mailsystem/Profiles.h"

#include <algorithm>
#include <map>
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

using SharedContext = std::shared_ptr<const ObjectContext>;

// The context of the objects read from an object of context `parent`.
SharedContext ChildContext(const ObjectContext& parent, ObjectKind kind) {
    ObjectContext context = parent;
    context.kind = kind;
    return std::make_shared<const ObjectContext>(std::move(context));
}

class PatternObject final : public DispatchObject {
public:
    PatternObject(SharedContext context, const mail::RecurrencePattern& pattern)
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

// One match of a search, served from the search's results, which it shares with the other
// matches instead of holding a copy.
template <class Item> struct SharedItem {
    std::shared_ptr<const std::vector<Item>> items;
    std::size_t index = 0;
    const Item& operator*() const { return (*items)[index]; }
    const Item* operator->() const { return &(*items)[index]; }
};

class AppointmentObject final : public DispatchObject {
public:
    AppointmentObject(SharedContext context, SharedContext patternContext,
                      SharedItem<mail::Appointment> item)
        : DispatchObject(std::move(context)), m_patternContext(std::move(patternContext)),
          m_item(std::move(item)) {}

private:
    COleVariant InvokeMember(DISPID member, WORD flags,
                             std::span<const COleVariant> args) override {
        if (member == kGetRecurrencePattern) {
            ExpectMethod(flags);
            ExpectArgs(args, 0);
            return COleVariant(
                DispatchPtr::Attach(new PatternObject(m_patternContext, m_item->pattern)));
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
        const mail::Appointment& item = *m_item;
        switch (member) {
        case kReminderSet:
            return COleVariant(item.reminderSet);
        case kSubject:
            return COleVariant(item.subject);
        case kLocation:
            return COleVariant(item.location);
        case kStart:
            return DateOf(item.start);
        case kEnd:
            return DateOf(item.end);
        case kReminderMinutesBeforeStart:
            return COleVariant(item.reminderMinutesBeforeStart);
        default:
            return COleVariant(item.isRecurring);
        }
    }

    SharedContext m_patternContext;
    SharedItem<mail::Appointment> m_item;
};

class TaskObject final : public DispatchObject {
public:
    TaskObject(SharedContext context, SharedItem<mail::Task> item)
        : DispatchObject(std::move(context)), m_item(std::move(item)) {}

private:
    COleVariant InvokeMember(DISPID member, WORD flags,
                             std::span<const COleVariant> args) override {
        if (member != kReminderSet && member != kSubject && member != kReminderTime)
            ThrowCallError(DISP_E_MEMBERNOTFOUND);
        ExpectGet(flags, args);
        const mail::Task& item = *m_item;
        if (member == kReminderSet)
            return COleVariant(item.reminderSet);
        if (member == kSubject)
            return COleVariant(item.subject);
        return item.reminderSet ? DateOf(item.reminderTime) : COleVariant::Date(kOleDateNone);
    }

    SharedItem<mail::Task> m_item;
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

    // Items still served keep the results they came from; a new search makes new ones.
    void Reset() {
        m_appointments.reset();
        m_tasks.reset();
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
            // No master items are served: without IncludeRecurrences a series shows nothing.
            std::erase_if(found, [&](const mail::Appointment& a) {
                return !((m_includeRecurrences || !a.isRecurring) && filter->Matches(a));
            });
            Order(found);
            m_appointments =
                std::make_shared<const std::vector<mail::Appointment>>(std::move(found));
        } else {
            std::vector<mail::Task> found;
            if (!m_store->FindTasks(m_mailbox, found, error))
                ThrowDispatchError(error);
            std::erase_if(found, [&](const mail::Task& t) { return !filter->Matches(t); });
            Order(found);
            m_tasks = std::make_shared<const std::vector<mail::Task>>(std::move(found));
        }
    }

    std::size_t Count() const {
        const auto size = [](const auto& items) { return items ? items->size() : 0; };
        return IsCalendar() ? size(m_appointments) : size(m_tasks);
    }

    // The item at the cursor as a new object, or Nothing past the end.
    COleVariant Current() {
        if (m_next >= Count())
            return Nothing();
        if (IsCalendar()) {
            if (!m_itemContext) {
                m_itemContext = ChildContext(Context(), ObjectKind::AppointmentItem);
                m_patternContext = ChildContext(Context(), ObjectKind::RecurrencePattern);
            }
            return COleVariant(DispatchPtr::Attach(
                new AppointmentObject(m_itemContext, m_patternContext, {m_appointments, m_next})));
        }
        if (!m_itemContext)
            m_itemContext = ChildContext(Context(), ObjectKind::TaskItem);
        return COleVariant(DispatchPtr::Attach(new TaskObject(m_itemContext, {m_tasks, m_next})));
    }

    std::shared_ptr<mail::MailSystem> m_store;
    mail::AddressEntry m_mailbox;
    std::optional<ItemProperty> m_sort;
    bool m_descending = false;
    bool m_includeRecurrences = false;
    // The last Find's matches, shared with the items served from them.
    std::shared_ptr<const std::vector<mail::Appointment>> m_appointments; // calendar
    std::shared_ptr<const std::vector<mail::Task>> m_tasks;               // tasks
    std::size_t m_next = 0; // index of the item Find or FindNext returned
    // The contexts of the items served and of their patterns, made at the first one.
    SharedContext m_itemContext, m_patternContext;
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
    // A directory's mail system is opened anew with its settings, and one with a calendar
    // server keeps its readings for one pass only.
    if (!found->ldap.url.empty() || found->calendars.Used())
        return mail::OpenWithCalendarServer(*found, error);
    // Every scan pass logs on afresh, and reading a large address-list file again would cost
    // more than a short pass's own work: a mail system once opened on its address-list file
    // serves the next logons of this thread for as long as the file can be read (it reads a
    // changed file again).
    thread_local std::map<std::string, std::shared_ptr<mail::MailSystem>> opened;
    std::shared_ptr<mail::MailSystem>& kept = opened[found->mailSystem];
    std::vector<mail::AddressEntry> none;
    std::string stale;
    if (kept && kept->FindByAddress(std::string(), none, stale))
        return kept;
    kept = mail::MailSystem::OpenWithoutCalendarServer(*found, error);
    return kept;
}

std::shared_ptr<mail::MailSystem> OpenMailSystem(const std::string& profile, std::string& error) {
    return CurrentOpener()(profile, error);
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
