// A password typed into the window is stored as a password file holding it would store it, and
// refused where the file would be; a credential reference is kept as the reference.
#include "app/admin/ProfileChange.h"
#include "app/admin/ProfileSecrets.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

using namespace testing_support;

TEST(ProfileSecrets, ATypedPasswordIsStoredAsItsPasswordFileWouldStoreIt) {
    TempDir dir;
    struct Row {
        std::string typed;
        bool taken;
        std::string stored;
    } const rows[] = {
        {"secret", true, "secret"},
        {"secret\r\nsecond line", true, "secret"},
        {"  blanks kept  ", true, "  blanks kept  "},
        {"credential:smtp-password", true, "credential:smtp-password"},
        {"", false, ""},
        {"\nsecret", false, ""},
        {"credential:", false, ""},
        {"credential:a/b", false, ""},
    };
    for (const Row& row : rows) {
        std::string typedSecret = "before", error;
        EXPECT_EQ(admin::TakeTypedPassword("SMTP password", row.typed, typedSecret, error),
                  row.taken)
            << row.typed;
        if (!row.taken) {
            EXPECT_EQ(typedSecret, "before") << "unchanged on a refusal: " << row.typed;
            EXPECT_NE(error.find("SMTP password"), std::string::npos) << error;
            continue;
        }
        EXPECT_EQ(typedSecret, row.stored);
        if (row.typed.rfind("credential:", 0) == 0)
            continue; // a password file refuses a reference: it is the option's to name one
        const std::string file = dir.Path() + "/password";
        WriteFile(file, row.typed + "\n");
        std::string fromFile;
        ASSERT_TRUE(admin::ReadPasswordFile(file, fromFile, error)) << error;
        EXPECT_EQ(fromFile, typedSecret) << row.typed;
    }
}

// The typed password goes through the same rules as the options: a directory password applies
// only to a directory, and nothing is kept from a refused change.
TEST(ProfileSecrets, TypedPasswordsFollowTheOptionsRules) {
    mail::Profile base;
    base.name = "P";
    base.mailSystem = "/srv/mail";
    admin::ProfileChange change;
    change.directory.passwordTyped = {true, "secret"};
    mail::Profile out;
    std::string error;
    EXPECT_EQ(admin::ApplyProfileChange("P", &base, change, out, error), 1);
    EXPECT_EQ(error, "the --directory-... options apply to a directory; give --directory "
                     "ldap[s]://HOST/BASE-DN too");

    change.directory.url = {true, "ldap://127.0.0.1/dc=example,dc=org"};
    change.directory.user = {true, "cn=reader,dc=example,dc=org"};
    ASSERT_EQ(admin::ApplyProfileChange("P", &base, change, out, error), 0) << error;
    EXPECT_EQ(out.ldap.password, "secret");
    EXPECT_TRUE(base.ldap.password.empty());

    admin::ProfileChange both;
    both.password = {true, "one"};
    both.passwordTyped = {true, "two"};
    EXPECT_EQ(admin::CheckChange("P", both), "give either --password or --password-file");
    EXPECT_EQ(admin::SetProfile("P", both).code, 2);
}
