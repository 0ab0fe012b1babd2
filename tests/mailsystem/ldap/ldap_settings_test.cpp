// Directory settings without a server: maps, URLs, the checks of a profile's directory, filter
// escaping and the mapping of one entry.
#include "mailsystem/Profiles.h"
#include "mailsystem/ldap/LdapSettings.h"
#include "support/TestSupport.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace {

using Attrs = std::vector<std::string>;

TEST(LdapMap, PresetsAndListsOfFields) {
    struct Row {
        const char* text;
        Attrs displayName, address, homeStore, mailbox, deliverTo;
    };
    const Row rows[] = {
        {"", {"displayName", "cn"}, {"mail"}, {"mailHost"}, {"uid"}, {"mail"}},
        {" OpenLDAP ", {"displayName", "cn"}, {"mail"}, {"mailHost"}, {"uid"}, {"mail"}},
        {"active-directory",
         {"displayName", "cn"},
         {"mail"},
         {"homeMDB"},
         {"sAMAccountName"},
         {"mail"}},
        // Fields not named keep the preset's attributes.
        {"active-directory, mailbox = uid",
         {"displayName", "cn"},
         {"mail"},
         {"homeMDB"},
         {"uid"},
         {"mail"}},
        {"Display-Name=cn,Address=mail,Deliver-To=pager|mail",
         {"cn"},
         {"mail"},
         {"mailHost"},
         {"uid"},
         {"pager", "mail"}},
        {"Home-Store=,Mailbox=", {"displayName", "cn"}, {"mail"}, {}, {}, {"mail"}},
        {"Address=1.2.840.113556.1.4.656",
         {"displayName", "cn"},
         {"1.2.840.113556.1.4.656"},
         {"mailHost"},
         {"uid"},
         {"mail"}},
    };
    for (const Row& row : rows) {
        mail::LdapMap map;
        std::string error;
        ASSERT_TRUE(mail::ParseLdapMap(row.text, map, error)) << row.text << ": " << error;
        EXPECT_EQ(map.displayName, row.displayName) << row.text;
        EXPECT_EQ(map.address, row.address) << row.text;
        EXPECT_EQ(map.homeStore, row.homeStore) << row.text;
        EXPECT_EQ(map.mailbox, row.mailbox) << row.text;
        EXPECT_EQ(map.deliverTo, row.deliverTo) << row.text;
    }

    mail::LdapMap map;
    std::string error;
    ASSERT_TRUE(mail::ParseLdapMap("Deliver-To=MAIL|pager", map, error));
    // Each attribute is asked for once, whatever its case.
    EXPECT_EQ(map.Attributes(), (Attrs{"displayName", "cn", "mail", "mailHost", "uid", "pager"}));
}

TEST(LdapMap, RefusesWhatItCannotRead) {
    struct Row {
        const char* text;
        const char* says;
    };
    const Row rows[] = {
        {"novell", "neither openldap, active-directory"},
        {"Colour=mail", "unknown field \"Colour\""},
        {"Address=", "must give Address an attribute"},
        {"Display-Name=", "must give Display-Name an attribute"},
        {"Mailbox=uid,Mailbox=cn", "names Mailbox twice"},
        {"Mailbox=uid,openldap", "a preset may only come first"},
        {"Address=ma il", "cannot be an LDAP attribute name"},
        {"Address=mail*", "cannot be an LDAP attribute name"},
        {"Address=1..2", "cannot be an LDAP attribute name"},
        {"Address=mail|", "cannot be an LDAP attribute name"},
        {"Address=(mail=*)", "cannot be an LDAP attribute name"},
    };
    for (const Row& row : rows) {
        mail::LdapMap map;
        std::string error;
        EXPECT_FALSE(mail::ParseLdapMap(row.text, map, error)) << row.text;
        EXPECT_NE(error.find(row.says), std::string::npos) << row.text << ": " << error;
    }
}

TEST(LdapUrl, ServerAndBaseDn) {
    struct Row {
        const char* url;
        const char* server; // null: refused
        const char* baseDn;
        bool tls;
    };
    const Row rows[] = {
        {"ldap://ldap.example.com/dc=example,dc=com", "ldap://ldap.example.com",
         "dc=example,dc=com", false},
        {"LDAPS://dc1.corp.example:3269/DC=corp,DC=example", "ldaps://dc1.corp.example:3269",
         "DC=corp,DC=example", true},
        {"ldap://[::1]:3890/ou=Sales%20Staff,dc=x", "ldap://[::1]:3890", "ou=Sales Staff,dc=x",
         false},
        {"ldap://h/ou=Sales Staff,dc=x", "ldap://h", "ou=Sales Staff,dc=x", false},
        {"ldap://h", nullptr, "", false},                    // no base DN
        {"ldap:///dc=x", nullptr, "", false},                // no server
        {"ldapi://%2frun%2fslapd/dc=x", nullptr, "", false}, // not a network server
        {"http://h/dc=x", nullptr, "", false},
        {"ldap://h/dc=x??sub", nullptr, "", false}, // scope and filter are the profile's
        {"ldap://h/dc=x?mail", nullptr, "", false},
        {"ldap://h:0/dc=x", nullptr, "", false},
        {"ldap://h:65536/dc=x", nullptr, "", false},
        {"ldap://h/not a dn", nullptr, "", false},
        {"ldap://h/dc=x\n", nullptr, "", false},
    };
    for (const Row& row : rows) {
        mail::LdapUrl url;
        std::string error;
        const bool ok = mail::ParseLdapUrl(row.url, url, error);
        EXPECT_EQ(ok, row.server != nullptr) << row.url << ": " << error;
        if (ok && row.server) {
            EXPECT_EQ(url.server, row.server) << row.url;
            EXPECT_EQ(url.baseDn, row.baseDn) << row.url;
            EXPECT_EQ(url.tls, row.tls) << row.url;
        } else {
            EXPECT_FALSE(error.empty()) << row.url;
        }
    }
}

TEST(LdapConfig, ChecksTheProfileSettings) {
    const mail::LdapConfig good{"ldaps://ldap.example.com/dc=example,dc=com",
                                "cn=orvane,ou=Services,dc=example,dc=com",
                                "pw",
                                "(objectClass=inetOrgPerson)",
                                "active-directory",
                                true};
    EXPECT_EQ(mail::CheckLdap(good), "");
    EXPECT_EQ(mail::CheckLdap({}), "");
    EXPECT_EQ(mail::DescribeLdap({}), "address-list.txt");
    EXPECT_EQ(mail::DescribeLdap(good), "ldaps://ldap.example.com/dc=example,dc=com");
    mail::LdapConfig plain = good;
    plain.url = "ldap://ldap.example.com/dc=example,dc=com";
    EXPECT_EQ(mail::DescribeLdap(plain), "ldap://ldap.example.com/dc=example,dc=com (StartTLS)");
    plain.startTls = false;
    EXPECT_EQ(mail::DescribeLdap(plain), "ldap://ldap.example.com/dc=example,dc=com");
    EXPECT_EQ(mail::DescribeLdap(plain).find("pw"), std::string::npos);

    struct Row {
        void (*change)(mail::LdapConfig&);
        const char* says;
    };
    const Row rows[] = {
        {[](mail::LdapConfig& d) { d.url = "ldap://h"; }, "names no base DN"},
        {[](mail::LdapConfig& d) { d.user = "orvane"; }, "is not a DN"},
        {[](mail::LdapConfig& d) { d.user.clear(); }, "password is set but no directory user"},
        {[](mail::LdapConfig& d) { d.filter = "(objectClass=person"; }, "parentheses"},
        {[](mail::LdapConfig& d) { d.filter = "(a=1))(b=2"; }, "parentheses"},
        {[](mail::LdapConfig& d) { d.filter = "(a=1)(b=2)"; }, "parentheses"},
        {[](mail::LdapConfig& d) { d.filter = "(a=1)\n"; }, "control characters"},
        {[](mail::LdapConfig& d) { d.map = "Mailbox"; }, "neither openldap"},
        {[](mail::LdapConfig& d) { d.url.clear(); }, "no directory URL"},
    };
    for (const Row& row : rows) {
        mail::LdapConfig d = good;
        row.change(d);
        const std::string why = mail::CheckLdap(d);
        EXPECT_NE(why.find(row.says), std::string::npos) << row.says << ": " << why;
    }
    // A filter may leave out its outer parentheses.
    mail::LdapConfig bare = good;
    bare.filter = "objectClass=person";
    EXPECT_EQ(mail::CheckLdap(bare), "");
    EXPECT_EQ(mail::NormalizeFilter(" objectClass=person "), "(objectClass=person)");
    EXPECT_EQ(mail::NormalizeFilter("(&(a=1)(b=2))"), "(&(a=1)(b=2))");
    EXPECT_EQ(mail::NormalizeFilter("  "), "");
}

// No byte of a name can end the assertion it sits in or turn it into a wildcard.
TEST(DirectoryFilter, EscapesEveryMetacharacter) {
    struct Row {
        std::string value, escaped;
    };
    const Row rows[] = {
        {"Alice Archer", "Alice Archer"},
        {"*", "\\2A"},
        {"Ann (Pager)", "Ann \\28Pager\\29"},
        {"back\\slash", "back\\5Cslash"},
        {std::string("a\0b", 3), "a\\00b"},
        {")(mail=*", "\\29\\28mail=\\2A"},
        {"\xC3\xA9", "\\C3\\A9"},
        {"", ""},
    };
    for (const Row& row : rows)
        EXPECT_EQ(mail::EscapeFilterValue(row.value), row.escaped) << row.escaped;
}

TEST(DirectoryEntry, FieldsFromTheMapAndEntriesLeftOut) {
    mail::LdapMap map;
    std::string error;
    ASSERT_TRUE(mail::ParseLdapMap("", map, error));
    struct Row {
        mail::LdapAttributes attributes;
        bool listed;
        mail::AddressEntry entry;
    };
    const Row rows[] = {
        {{{"displayname", {"Ann Archer"}},
          {"cn", {"ann"}},
          {"mail", {"ann@example.org", "a@example.org"}},
          {"mailhost", {"/o=X/cn=MAIL1"}},
          {"uid", {"ann"}}},
         true,
         {"Ann Archer", "ann@example.org", "/o=X/cn=MAIL1", "ann", "ann@example.org"}},
        // No displayName (or an empty one): cn stands in.
        {{{"displayname", {""}}, {"cn", {"Ann (Pager)"}}, {"mail", {"555@pager.example"}}},
         true,
         {"Ann (Pager)", "555@pager.example", "", "", "555@pager.example"}},
        {{{"cn", {"Room"}}}, false, {}},            // no address
        {{{"mail", {"x@example.org"}}}, false, {}}, // no name at all
        {{{"cn", {"Two\nLines"}}, {"mail", {"x@example.org"}}}, false, {}},
        {{{"cn", {"Escaper"}}, {"mail", {"x@example.org"}}, {"uid", {"../etc"}}}, false, {}},
        {{{"cn", {"Hidden"}}, {"mail", {"x@example.org"}}, {"uid", {".hidden"}}}, false, {}},
    };
    for (const Row& row : rows) {
        mail::AddressEntry entry;
        const bool listed = mail::MapLdapEntry(map, row.attributes, entry);
        EXPECT_EQ(listed, row.listed) << row.entry.displayName;
        if (listed && row.listed) {
            EXPECT_EQ(entry.displayName, row.entry.displayName);
            EXPECT_EQ(entry.address, row.entry.address);
            EXPECT_EQ(entry.homeStore, row.entry.homeStore);
            EXPECT_EQ(entry.mailbox, row.entry.mailbox);
            EXPECT_EQ(entry.deliverTo, row.entry.deliverTo);
        }
    }
}

class DirectoryProfile : public testing::Test {
protected:
    void SetUp() override {
        const std::string path = mail::Profiles::FilePath();
        std::filesystem::remove(path);
        std::filesystem::create_directories(path.substr(0, path.rfind('/')));
    }
};

TEST_F(DirectoryProfile, IsSavedAndReadBackWhole) {
    mail::Profiles profiles;
    mail::Profile p{"Office", "/srv/mail", {}, {}};
    p.ldap = {"ldap://ldap.example.com:3890/ou=People,dc=example,dc=com",
              "cn=orvane,dc=example,dc=com",
              " pass with blanks \"and quotes\" ",
              "(&(objectClass=inetOrgPerson)(!(employeeType=former)))",
              "openldap,Home-Store=departmentNumber",
              false};
    profiles.Set(p);
    profiles.Set({"Plain", "/srv/mail", {}, {}});
    std::string error;
    ASSERT_TRUE(profiles.Save(error)) << error;
    const std::string text = testing_support::ReadFile(mail::Profiles::FilePath());
    EXPECT_NE(text.find("directory-starttls = no\n"), std::string::npos) << text;

    mail::Profiles again;
    ASSERT_TRUE(again.Load(error)) << error;
    EXPECT_TRUE(again.Find("Office")->ldap == p.ldap);
    EXPECT_TRUE(again.Find("Plain")->ldap == mail::LdapConfig{});
}

TEST_F(DirectoryProfile, ABrokenDirectorySettingIsRefusedWithItsLine) {
    struct Row {
        const char* lines;
        const char* says;
    };
    const Row rows[] = {
        {"directory = ldap://h\n", "names no base DN"},
        {"directory = ldap://h/dc=x\ndirectory-starttls = maybe\n", "takes yes or no"},
        {"directory-user = cn=x,dc=y\n", "no directory URL"},
        {"directory = ldap://h/dc=x\ndirectory = ldap://h/dc=y\n", "a second \"directory\""},
        {"directory = ldap://h/dc=x\ndirectory-map = nis\n", "neither openldap"},
    };
    for (const Row& row : rows) {
        testing_support::WriteFile(mail::Profiles::FilePath(),
                                   std::string("[Office]\nmail-system = /srv/mail\n") + row.lines);
        mail::Profiles profiles;
        std::string error;
        EXPECT_FALSE(profiles.Load(error)) << row.lines;
        EXPECT_NE(error.find(row.says), std::string::npos) << error;
        EXPECT_NE(error.find(", line "), std::string::npos) << error;
    }
}

} // namespace
