// The secrets of a mail profile: typed, read from a file, or named as a credential.
#include "app/admin/ProfileSecrets.h"

#include "core/Credentials.h"
#include "core/Text.h"

#include <fstream>

namespace admin {
namespace {

// The first line of `text` without a CR at its end: what a password file's reader keeps.
std::string FirstLine(const std::string& text) {
    std::string line = text.substr(0, text.find('\n'));
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return line;
}

} // namespace

bool TakeSecretOption(const std::string& option, const std::string& value, bool literalAllowed,
                      const std::string& fileOption, std::string& secret, std::string& error) {
    if (HasControlCharacter(value)) {
        error = "--" + option + " must not contain control characters";
        return false;
    }
    if (credentials::IsReference(value) && !credentials::IsWellFormedReference(value)) {
        error = "--" + option + " " + credentials::kPrefix +
                "... does not name a credential: the name after \"" + credentials::kPrefix +
                "\" must be a file name (not empty, not . or .., without /). A password cannot "
                "begin with \"" +
                credentials::kPrefix + "\"";
        return false;
    }
    if (!credentials::IsReference(value) && !literalAllowed) {
        error = "--" + option + " takes " + credentials::kPrefix +
                "NAME, a credential that the service manager provides; give a password itself "
                "with --" +
                fileOption + " FILE, so that it does not appear in the process list";
        return false;
    }
    secret = value;
    return true;
}

bool ReadPasswordFile(const std::string& path, std::string& password, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "the password file " + path + " cannot be read";
        return false;
    }
    std::getline(in, password);
    password = FirstLine(password);
    if (password.empty()) {
        error = "the password file " + path + " holds no password on its first line";
        return false;
    }
    if (credentials::IsReference(password)) {
        password.clear();
        error = "the password in " + path + " begins with \"" + credentials::kPrefix +
                "\", which would name a credential rather than be a password; name a credential "
                "with the password option itself (such as --password credential:NAME)";
        return false;
    }
    return true;
}

bool TakeTypedPassword(const std::string& field, const std::string& typed, std::string& secret,
                       std::string& error) {
    const std::string password = FirstLine(typed);
    if (password.empty()) {
        error = "the " + field + " is empty; type the password, or leave it unchanged";
        return false;
    }
    if (credentials::IsReference(password) && !credentials::IsWellFormedReference(password)) {
        error = "the " + field + " " + credentials::kPrefix +
                "... does not name a credential: the name after \"" + credentials::kPrefix +
                "\" must be a file name (not empty, not . or .., without /). A password cannot "
                "begin with \"" +
                credentials::kPrefix + "\"";
        return false;
    }
    secret = password;
    return true;
}

std::string DescribeSecret(const std::string& stored) {
    if (stored.empty())
        return "";
    return credentials::IsReference(stored) ? EscapeField(stored) : "set";
}

} // namespace admin
