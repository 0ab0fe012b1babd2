// Secrets given as "credential:NAME", read from the directory that CREDENTIALS_DIRECTORY names,
// as systemd's LoadCredential= provides them.
#include "core/Credentials.h"
#include "support/TestSupport.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

// Sets CREDENTIALS_DIRECTORY (or unsets it, for null) for the scope.
class ScopedCredentialsDirectory {
public:
    explicit ScopedCredentialsDirectory(const char* path) {
        if (path)
            setenv(credentials::kDirectoryVariable, path, 1);
        else
            unsetenv(credentials::kDirectoryVariable);
    }
    ~ScopedCredentialsDirectory() { unsetenv(credentials::kDirectoryVariable); }
};

} // namespace

TEST(Credentials, ReferencesAreReadFromTheCredentialsDirectory) {
    testing_support::TempDir dir;
    testing_support::WriteFile(dir.File("smtp"), "s3cret\n");
    testing_support::WriteFile(dir.File("crlf"), "with CR\r\nsecond line\n");
    testing_support::WriteFile(dir.File("bare"), "no line end");
    testing_support::WriteFile(dir.File("empty"), "");
    testing_support::WriteFile(dir.File("blank-first"), "\nhidden-secret\n");
    testing_support::WriteFile(dir.File(" spaced "), " kept as is \n");
    mkdir(dir.File("folder").c_str(), 0700);
    const std::string path = dir.Path();

    const struct {
        const char* directory; // CREDENTIALS_DIRECTORY; null: unset
        const char* value;
        const char* secret;   // null: refused
        std::string sentence; // in the refusal
    } rows[] = {
        {path.c_str(), "plain password", "plain password", ""},
        {path.c_str(), "", "", ""},
        {path.c_str(), "Credential:smtp", "Credential:smtp", ""}, // the prefix is exact
        {path.c_str(), "credential:smtp", "s3cret", ""},
        {path.c_str(), "credential:crlf", "with CR", ""},
        {path.c_str(), "credential:bare", "no line end", ""},
        {path.c_str(), "credential: spaced ", " kept as is ", ""},
        {path.c_str(), "credential:empty", nullptr,
         "The credential empty in " + path + "/empty holds nothing on its first line."},
        {path.c_str(), "credential:blank-first", nullptr, "holds nothing on its first line"},
        {path.c_str(), "credential:ldap", nullptr,
         "The credential ldap is missing: there is no " + path +
             "/ldap (give it to the unit with LoadCredential=ldap:FILE)."},
        {path.c_str(), "credential:folder", nullptr,
         "The credential folder cannot be read from " + path + "/folder: Is a directory."},
        {nullptr, "credential:smtp", nullptr,
         "The credential smtp cannot be read: CREDENTIALS_DIRECTORY is not set"},
        {"", "credential:smtp", nullptr, "CREDENTIALS_DIRECTORY is not set"},
        {path.c_str(), "credential:", nullptr, "does not name a credential"},
        {path.c_str(), "credential:.", nullptr, "does not name a credential"},
        {path.c_str(), "credential:..", nullptr, "does not name a credential"},
        {path.c_str(), "credential:../smtp", nullptr, "does not name a credential"},
        {path.c_str(), "credential:sub/smtp", nullptr, "does not name a credential"},
        // A mistyped secret is not repeated in the sentence.
        {path.c_str(), "credential:x/hidden-secret", nullptr, "does not name a credential"},
    };
    for (const auto& row : rows) {
        ScopedCredentialsDirectory scope(row.directory);
        CString secret = "before", error;
        const bool ok = credentials::Resolve(row.value, secret, error);
        EXPECT_EQ(ok, row.secret != nullptr) << row.value << ": " << error;
        if (ok) {
            EXPECT_EQ(secret, row.secret) << row.value;
            continue;
        }
        EXPECT_EQ(secret, "before") << "a refusal leaves the secret alone";
        EXPECT_NE(error.find(row.sentence), std::string::npos) << row.value << ": " << error;
        EXPECT_EQ(error.find("hidden-secret"), std::string::npos) << "never the secret: " << error;
    }
    EXPECT_TRUE(credentials::IsReference("credential:x"));
    EXPECT_FALSE(credentials::IsReference("x credential:x"));
    for (const char* value : {"credential:smtp", "credential: spaced ", "credential:a.b"})
        EXPECT_TRUE(credentials::IsWellFormedReference(value)) << value;
    for (const char* value :
         {"smtp", "credential:", "credential:..", "credential:a/b", "Credential:x"})
        EXPECT_FALSE(credentials::IsWellFormedReference(value)) << value;
}

// Read at each use: a credential replaced (a restart of the unit with another file) applies at
// the next use; one taken away fails then.
TEST(Credentials, EachUseReadsTheFileAgain) {
    testing_support::TempDir dir;
    ScopedCredentialsDirectory scope(dir.Path().c_str());
    CString secret, error;
    testing_support::WriteFile(dir.File("caldav"), "first\n");
    ASSERT_TRUE(credentials::Resolve("credential:caldav", secret, error)) << error;
    EXPECT_EQ(secret, "first");
    testing_support::WriteFile(dir.File("caldav"), "second\n");
    ASSERT_TRUE(credentials::Resolve("credential:caldav", secret, error)) << error;
    EXPECT_EQ(secret, "second");
    std::remove(dir.File("caldav").c_str());
    EXPECT_FALSE(credentials::Resolve("credential:caldav", secret, error));
    EXPECT_NE(error.find("The credential caldav is missing"), std::string::npos) << error;
}
