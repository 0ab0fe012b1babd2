// The user list: code search and reuse, copies, deletion, and the visible order of the sort.
#include "users/CUserList.h"

#include <gtest/gtest.h>

namespace {

std::vector<int> Codes(const CUserList& list) {
    std::vector<int> codes;
    for (const auto& u : list.Users())
        codes.push_back(u->Code);
    return codes;
}

UserlistStru* AddWithCode(CUserList& list, int code, const char* server = "") {
    UserlistStru* u = list.CreateNoCodeUser();
    u->Code = static_cast<int16_t>(code);
    u->Server = server;
    return u;
}

} // namespace

TEST(CUserList, NewRecordsHaveTheDefaultConfigurationAndFreshState) {
    CUserList list;
    UserlistStru* u = list.CreateUser();
    ASSERT_NE(u, nullptr);
    EXPECT_EQ(u->Code, 1);
    EXPECT_EQ(list.NextCode, 2);
    EXPECT_EQ(u->ScanInterval, 60);
    EXPECT_EQ(u->PageOnlyOOF, 1);
    EXPECT_EQ(u->ScanStatus, -1);
    EXPECT_EQ(u->OOFFlag, 0);
    EXPECT_EQ(u->NextScan, CTime(0));
    EXPECT_EQ(u->LastPageCheck, CTime(0));
    EXPECT_TRUE(u->Reminders.IsEmpty());
    EXPECT_TRUE(u->DisplayName.empty() && u->MailboxName.empty() && u->Server.empty() &&
                u->PagerName.empty());
}

TEST(CUserList, TheCodeSearchSkipsCodesInUseAndReusesFreedOnes) {
    CUserList list;
    for (int code : {1, 2, 3})
        AddWithCode(list, code);
    EXPECT_EQ(list.CreateUser()->Code, 4);
    EXPECT_EQ(list.NextCode, 5);

    list.DeleteUser(std::next(list.Users().begin())->get()); // code 2
    EXPECT_EQ(list.NextCode, 2);
    EXPECT_EQ(list.CreateUser()->Code, 2);
    EXPECT_EQ(list.CreateUser()->Code, 5);
    EXPECT_EQ(Codes(list), std::vector<int>({1, 3, 4, 2, 5}));
}

TEST(CUserList, DeletingCodesAtOrAboveNextCodeOrNotPositiveLeavesItAlone) {
    CUserList list;
    for (int code : {1, 2, 3, 4})
        AddWithCode(list, code);
    UserlistStru* zero = AddWithCode(list, 0);
    UserlistStru* negative = AddWithCode(list, -7);
    UserlistStru* high = AddWithCode(list, 9);
    list.NextCode = 5;
    list.DeleteUser(high);
    list.DeleteUser(zero);
    list.DeleteUser(negative);
    EXPECT_EQ(list.NextCode, 5);
    EXPECT_EQ(Codes(list), std::vector<int>({1, 2, 3, 4}));
    UserlistStru* stranger = new UserlistStru; // not in the list: freed all the same
    stranger->Code = 1;
    list.DeleteUser(stranger);
    EXPECT_EQ(list.GetCount(), 4);
    EXPECT_EQ(list.NextCode, 5);
}

TEST(CUserList, TheCandidateWrapsFrom32000ToOneButNextCodeDoesNot) {
    CUserList list;
    AddWithCode(list, 32000);
    AddWithCode(list, 1);
    list.NextCode = 32000;
    EXPECT_EQ(list.CreateUser()->Code, 2);
    EXPECT_EQ(list.NextCode, 3);

    CUserList high;
    AddWithCode(high, 5);
    high.NextCode = 32000;
    EXPECT_EQ(high.CreateUser()->Code, 32000);
    EXPECT_EQ(high.NextCode, 32001);
    EXPECT_EQ(high.CreateUser()->Code, 32001) << "a free candidate above 32000 is handed out";
    EXPECT_EQ(high.NextCode, 32002);
}

TEST(CUserList, CreationFailsInAnOrderlyWayWhenNoCodeCanBeHandedOut) {
    CUserList full;
    for (int code = 1; code <= 32000; ++code)
        AddWithCode(full, code);
    CString whyNot;
    EXPECT_EQ(full.CreateUser(whyNot), nullptr);
    EXPECT_NE(whyNot.find("No user code is free"), std::string::npos) << whyNot;
    EXPECT_EQ(full.GetCount(), 32000);

    CUserList past;
    past.NextCode = 32768;
    whyNot.clear();
    EXPECT_EQ(past.CreateUser(whyNot), nullptr);
    EXPECT_NE(whyNot.find("32767"), std::string::npos) << whyNot;
    EXPECT_TRUE(past.IsEmpty());

    CUserList top;
    top.NextCode = 32767;
    ASSERT_NE(top.CreateUser(), nullptr);
    EXPECT_EQ(top.Users().front()->Code, 32767);
    EXPECT_EQ(top.CreateUser(), nullptr) << "32768 does not fit a code";
}

TEST(CUserList, CopiesCarryTheConfigurationOnly) {
    CUserList source;
    UserlistStru* u = AddWithCode(source, 17, "s1");
    u->DisplayName = "Ann";
    u->MailboxName = "ann";
    u->PagerName = "Ann's pager";
    u->ScanInterval = 15;
    u->PageOnlyOOF = 0;
    u->OOFFlag = 1;
    u->ScanStatus = 0;
    u->NextScan = CTime(123456);
    u->LastPageCheck = CTime(654321);
    u->Reminders.AddReminder(CTime(1000000), CTime(0), CTime(0), "pending");

    for (int viaAssignment = 0; viaAssignment < 2; ++viaAssignment) {
        CUserList target;
        target.NextOOFCheck = CTime(42);
        target.NextCode = 9;
        const UserlistStru* c;
        if (viaAssignment) {
            AddWithCode(target, 3); // replaced by the assignment
            target = source;
            ASSERT_EQ(target.GetCount(), 1);
            c = target.Users().front().get();
            EXPECT_EQ(target.NextCode, 1);
            EXPECT_EQ(target.NextOOFCheck, CTime(42));
        } else {
            c = target.CreateUser(u);
        }
        ASSERT_NE(c, nullptr);
        EXPECT_NE(c, u);
        EXPECT_EQ(c->Code, 17);
        EXPECT_EQ(c->DisplayName, "Ann");
        EXPECT_EQ(c->MailboxName, "ann");
        EXPECT_EQ(c->Server, "s1");
        EXPECT_EQ(c->PagerName, "Ann's pager");
        EXPECT_EQ(c->ScanInterval, 15);
        EXPECT_EQ(c->PageOnlyOOF, 0);
        EXPECT_EQ(c->OOFFlag, 0);
        EXPECT_EQ(c->ScanStatus, -1);
        EXPECT_EQ(c->NextScan, CTime(0));
        EXPECT_EQ(c->LastPageCheck, CTime(0));
        EXPECT_TRUE(c->Reminders.IsEmpty());
    }
    CUserList target;
    EXPECT_EQ(target.CreateUser(static_cast<const UserlistStru*>(nullptr)), nullptr);
    EXPECT_TRUE(target.IsEmpty());
}

TEST(CUserList, DeleteAllUsersEmptiesTheListAndRestartsTheCodes) {
    CUserList list;
    for (int code : {4, 5, 6})
        AddWithCode(list, code);
    list.NextCode = 7;
    list.DeleteAllUsers();
    EXPECT_TRUE(list.IsEmpty());
    EXPECT_EQ(list.NextCode, 1);
}

TEST(CUserList, SortByServerIsTheClassicShellSort) {
    const struct {
        std::vector<const char*> servers;
        std::vector<int> order; // codes 1..n in list order before the sort
    } rows[] = {
        {{"B", "B", "B", "A", "A"}, {5, 4, 1, 2, 3}},
        {{}, {}},
        {{"Z"}, {1}},
        {{"b", "B", "a", "A"}, {4, 2, 3, 1}}, // exact byte order: upper case first
        {{"\xe9", "z", "a"}, {3, 2, 1}},      // bytes compare unsigned
        {{"", "A", "", "B"}, {1, 3, 2, 4}},
    };
    for (const auto& row : rows) {
        CUserList list;
        int code = 1;
        for (const char* s : row.servers)
            AddWithCode(list, code++, s);
        list.SortByServer();
        EXPECT_EQ(Codes(list), row.order);
    }
}
