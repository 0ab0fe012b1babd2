// The dispatch runtime and driver: initialisation, creation, the two failure kinds, status
// texts, type checks and reference counting.
#include "outlook/automation/ComRuntime.h"
#include "outlook/automation/DispatchObject.h"
#include "outlook/automation/OutlookObjects.h"

#include <cstring>
#include <gtest/gtest.h>

using automation::InvalidReleases;
using automation::LiveObjects;

namespace {

// Answers the Outlook identifiers with values chosen by the test, to drive the client side alone.
class Probe final : public automation::DispatchObject {
public:
    Probe()
        : DispatchObject(
              automation::ObjectContext{automation::ObjectKind::AppointmentItem, 0, {}}) {}
    COleVariant start = COleVariant::Date(36964.5);
    std::vector<COleVariant> lastArgs;
    WORD lastFlags = 0;

private:
    COleVariant InvokeMember(DISPID member, WORD flags,
                             std::span<const COleVariant> args) override {
        lastArgs.assign(args.begin(), args.end());
        lastFlags = flags;
        switch (member) {
        case outlook_id::kStart:
            return start;
        case outlook_id::kSubject:
            return COleVariant(int32_t(5)); // not a text
        case outlook_id::kReminderSet:
            return COleVariant(int32_t(-1));
        case outlook_id::kReminderMinutesBeforeStart:
            return COleVariant(true);
        case outlook_id::kLocation:
            automation::ThrowDispatchError("Location unavailable");
        case outlook_id::kEnd:
            automation::ThrowCallError(E_ACCESSDENIED);
        case outlook_id::kIsRecurring:
            throw std::runtime_error("unexpected");
        case outlook_id::kGetRecurrencePattern:
            return COleVariant(DispatchPtr()); // Nothing
        default:
            automation::ThrowCallError(DISP_E_MEMBERNOTFOUND);
        }
    }
};

// Counts objects and invalid releases over a scope.
struct Balance {
    std::size_t live = LiveObjects(), invalid = InvalidReleases();
    void Expect(std::size_t moreLive, std::size_t moreInvalid) const {
        EXPECT_EQ(LiveObjects(), live + moreLive);
        EXPECT_EQ(InvalidReleases(), invalid + moreInvalid);
    }
};

} // namespace

TEST(DispatchRuntime, CreationNeedsAnInitialisedThread) {
    const Balance balance;
    COleDispatchDriver driver;
    COleException error(S_OK);
    EXPECT_EQ(driver.CreateDispatch("Outlook.Application", &error), 0);
    EXPECT_EQ(error.m_sc, CO_E_NOTINITIALIZED);
    EXPECT_EQ(driver.m_lpDispatch, nullptr);

    EXPECT_EQ(CoInitialize(), S_OK);
    EXPECT_EQ(CoInitialize(), S_FALSE);
    EXPECT_EQ(driver.CreateDispatch("outlook.application", &error), 1); // ProgIDs ignore case
    EXPECT_NE(driver.m_lpDispatch, nullptr);
    balance.Expect(1, 0);
    EXPECT_EQ(driver.CreateDispatch("Outlook.Applications", &error), 0);
    EXPECT_EQ(error.m_sc, CO_E_CLASSSTRING);
    EXPECT_EQ(driver.m_lpDispatch, nullptr); // the object held before was released
    balance.Expect(0, 0);
    EXPECT_EQ(CoCreateInstanceFromProgID("Outlook.Application", nullptr), E_POINTER);

    CoUninitialize();
    EXPECT_EQ(driver.CreateDispatch("Outlook.Application", &error), 1); // still once initialised
    driver.ReleaseDispatch();
    CoUninitialize();
    CoUninitialize(); // one too many is ignored
    EXPECT_EQ(driver.CreateDispatch("Outlook.Application"), 0);
    EXPECT_EQ(CoInitialize(), S_OK);
    CoUninitialize();
    balance.Expect(0, 0);
}

TEST(DispatchRuntime, KeepsCountOfManyObjectsReleasedInAnyOrder) {
    const Balance balance;
    // Enough objects for the registry to grow several times, released in strides while new ones
    // come (their addresses may be those of released ones), then once more each after the end.
    std::vector<Probe*> probes;
    std::vector<bool> released;
    const auto add = [&](int n) {
        for (int i = 0; i < n; ++i) {
            probes.push_back(new Probe);
            released.push_back(false);
        }
    };
    add(5000);
    balance.Expect(5000, 0);
    size_t live = 5000;
    for (size_t round = 0; round < 5; ++round) {
        for (size_t i = round; i < probes.size(); i += 5) {
            if (!released[i]) {
                automation::Release(probes[i]);
                released[i] = true;
                --live;
            }
        }
        add(500);
        live += 500;
        balance.Expect(live, 0);
    }
    for (size_t i = 0; i < probes.size(); ++i) {
        if (!released[i])
            automation::Release(probes[i]);
    }
    balance.Expect(0, 0);
    for (size_t i = 0; i < 10; ++i)
        automation::Release(probes[i * 7]); // a double release is counted, not followed
    balance.Expect(0, 10);
}

TEST(DispatchRuntime, SystemTextsForTheLayersCodesOnly) {
    struct Row {
        HRESULT code;
        const char* text;
    };
    const Row rows[] = {
        {E_FAIL, "Unspecified error"},
        {CO_E_NOTINITIALIZED, "CoInitialize has not been called."},
        {CO_E_CLASSSTRING, "Invalid class string"},
        {REGDB_E_CLASSNOTREG, "Class not registered"},
        {DISP_E_MEMBERNOTFOUND, "Member not found."},
        {DISP_E_TYPEMISMATCH, "Type mismatch."},
        {DISP_E_EXCEPTION, "Exception occurred."},
        {E_INVALIDARG, "The parameter is incorrect."},
        {RPC_E_DISCONNECTED, "The object invoked has disconnected from its clients."},
        {HRESULT(0x80041234u), nullptr},
        {S_OK, nullptr},
    };
    for (const Row& row : rows) {
        CString text = "old";
        EXPECT_EQ(SystemMessageText(row.code, text), row.text != nullptr) << std::hex << row.code;
        EXPECT_EQ(text, row.text ? row.text : "");
        const COleException e(row.code);
        char buffer[255];
        unsigned help = 99;
        EXPECT_EQ(e.GetErrorMessage(buffer, sizeof buffer, &help), row.text ? 1 : 0);
        EXPECT_STREQ(buffer, row.text ? row.text : "");
        EXPECT_EQ(help, 0u);
    }
    // The buffer's size bounds the copy, terminator included.
    char small[8];
    std::memset(small, 'x', sizeof small);
    EXPECT_EQ(COleException(RPC_E_DISCONNECTED).GetErrorMessage(small, sizeof small), 1);
    EXPECT_STREQ(small, "The obj");
    char one[1] = {'x'};
    COleException(E_FAIL).GetErrorMessage(one, 1);
    EXPECT_EQ(one[0], '\0');

    EXPECT_EQ(COleDispatchException("", 0, E_FAIL, "").GetErrorMessage(small, sizeof small), 0);
    EXPECT_EQ(COleDispatchException("Broken", 0, E_FAIL, "").GetErrorMessage(small, sizeof small),
              1);
    EXPECT_STREQ(small, "Broken");
}

TEST(DispatchDriver, FailuresBecomeTheTwoExceptionKinds) {
    const Balance balance;
    {
        _AppointmentItem item(new Probe);
        try {
            item.GetLocation();
            ADD_FAILURE() << "no exception";
        } catch (const COleDispatchException& e) {
            EXPECT_EQ(e.m_strDescription, "Location unavailable");
            EXPECT_EQ(e.m_strSource, "Microsoft Outlook");
        }
        try {
            item.GetEnd();
            ADD_FAILURE() << "no exception";
        } catch (const COleException& e) {
            EXPECT_EQ(e.m_sc, E_ACCESSDENIED);
        }
        // A failure inside the object that is neither kind still reaches the caller as a call
        // error.
        try {
            item.GetIsRecurring();
            ADD_FAILURE() << "no exception";
        } catch (const COleException& e) {
            EXPECT_EQ(e.m_sc, E_FAIL);
        }
        try {
            item.InvokeHelper(0x7777, DISPATCH_METHOD);
            ADD_FAILURE() << "no exception";
        } catch (const COleException& e) {
            EXPECT_EQ(e.m_sc, DISP_E_MEMBERNOTFOUND);
        }
        EXPECT_EQ(item.GetRecurrencePattern(), nullptr); // Nothing
    }
    _AppointmentItem none;
    try {
        none.GetStart();
        ADD_FAILURE() << "no exception";
    } catch (const COleException& e) {
        EXPECT_EQ(e.m_sc, E_POINTER);
    }
    balance.Expect(0, 0);
}

TEST(DispatchDriver, ResultsAreCoercedOrRefusedLikeVariantChangeType) {
    const Balance balance;
    auto* probe = new Probe;
    _AppointmentItem item(probe);
    EXPECT_DOUBLE_EQ(item.GetStart(), 36964.5);
    EXPECT_EQ(probe->lastFlags, DISPATCH_PROPERTYGET);
    EXPECT_TRUE(item.GetReminderSet());                  // 32-bit -1 as a Boolean
    EXPECT_EQ(item.GetReminderMinutesBeforeStart(), -1); // Boolean true as VARIANT_TRUE
    EXPECT_THROW(item.GetSubject(), COleException);      // an integer is not a text
    probe->start = COleVariant("03/14/01");
    try {
        item.GetStart();
        ADD_FAILURE() << "no exception";
    } catch (const COleException& e) {
        EXPECT_EQ(e.m_sc, DISP_E_TYPEMISMATCH);
    }
    probe->start = COleVariant(DispatchPtr());
    EXPECT_THROW(item.GetStart(), COleException);
    balance.Expect(1, 0);
}

TEST(DispatchDriver, EveryHolderReleasesExactlyOnce) {
    const Balance balance;
    IDispatch* object = new Probe;
    {
        COleDispatchDriver first(object);
        COleDispatchDriver copy(first); // its own reference
        COleDispatchDriver assigned;
        assigned = copy;
        COleDispatchDriver moved(std::move(copy));
        EXPECT_EQ(copy.m_lpDispatch, nullptr);
        COleVariant held(object); // a variant shares too
        COleVariant heldCopy = held;
        EXPECT_EQ(held.vt(), VT_DISPATCH);
        IDispatch* detached = heldCopy.DetachDispatch();
        EXPECT_TRUE(heldCopy.IsEmpty());
        DispatchPtr adopted = DispatchPtr::Attach(detached);
        first.ReleaseDispatch();
        first.ReleaseDispatch(); // holds nothing any more: no second release
        balance.Expect(1, 0);
    }
    balance.Expect(0, 0);

    // Attaching without auto-release leaves the reference with the caller.
    object = new Probe;
    {
        COleDispatchDriver borrowed(object, false);
        borrowed.AttachDispatch(object, false);
    }
    balance.Expect(1, 0);
    COleDispatchDriver owner;
    owner.AttachDispatch(object);
    EXPECT_EQ(owner.DetachDispatch(), object);
    owner.AttachDispatch(object);
    owner.AttachDispatch(nullptr); // releases the one before
    balance.Expect(0, 0);
}

TEST(DispatchDriver, ADoubleReleaseIsCountedAndDoesNotTouchTheObject) {
    const Balance balance;
    IDispatch* object = new Probe;
    {
        COleDispatchDriver a(object);
        COleDispatchDriver b(object); // a second owner of the same single reference
    }
    balance.Expect(0, 1);
    automation::AddRef(object); // a dead object is not revived either
    balance.Expect(0, 2);
}

TEST(DispatchDriver, VariantsCarryTheirTypes) {
    EXPECT_EQ(COleVariant().vt(), VT_EMPTY);
    EXPECT_EQ(COleVariant(true).vt(), VT_BOOL);
    EXPECT_EQ(COleVariant(int32_t(9)).vt(), VT_I4);
    EXPECT_EQ(COleVariant("MAPI").vt(), VT_BSTR);
    EXPECT_EQ(COleVariant(static_cast<const char*>(nullptr)).bstrVal(), "");
    EXPECT_EQ(COleVariant::Date(1.5).vt(), VT_DATE);
    EXPECT_EQ(COleVariant(DispatchPtr()).vt(), VT_DISPATCH);
    COleVariant text("x");
    EXPECT_EQ(text.DetachDispatch(), nullptr);
    EXPECT_EQ(text.bstrVal(), "x");
}
