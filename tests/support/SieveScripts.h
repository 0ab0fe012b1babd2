// Sieve scripts as each web mail front end writes them, with a vacation from 24 December 2026
// to 6 January 2027 (in +0100 where the writer names a zone), for the tests that read them from
// a Dovecot.
#pragma once

#include <QByteArray>
#include <string>

namespace testing_support::sieve_scripts {

inline constexpr const char* kRoundcube =
    "require [\"vacation\",\"date\",\"relational\"];\r\n# rule:[Christmas away]\r\n"
    "if allof (currentdate :zone \"+0100\" :value \"ge\" \"date\" \"2026-12-24\", currentdate "
    ":zone \"+0100\" :value \"le\" \"date\" \"2027-01-06\")\r\n"
    "{\r\n\tvacation :days 1 :subject \"Away\" \"Back on 7 January.\";\r\n}\r\n";
inline constexpr const char* kRoundcubeOff =
    "require [\"vacation\",\"date\",\"relational\"];\r\n# rule:[Christmas away]\r\n"
    "if false # allof (currentdate :zone \"+0100\" :value \"ge\" \"date\" \"2026-12-24\")\r\n"
    "{\r\n\tvacation :days 1 \"Back on 7 January.\";\r\n}\r\n";
inline constexpr const char* kSogo =
    "require [\"vacation\",\"date\",\"relational\"];\n"
    "if allof (currentdate :value \"ge\" \"date\" \"2026-12-24\", currentdate :value \"le\" "
    "\"date\" \"2027-01-06\") {\nvacation :days 7 :subject \"Away\" text:\nI am away.\n.\n;\n}\n";
inline constexpr const char* kNextcloud =
    "### Nextcloud Mail: Vacation Responder ### DON'T EDIT ###\n"
    "# DATA: {\"version\":1,\"enabled\":true,\"start\":\"2026-12-24\",\"end\":\"2027-01-06\"}\n"
    "require [\"date\",\"relational\",\"vacation\"];\n"
    "if allof(currentdate :value \"ge\" \"iso8601\" \"2026-12-23T23:00:00Z\", currentdate "
    ":value \"le\" \"iso8601\" \"2027-01-06T22:59:59Z\") {\n"
    "\tvacation :days 4 :subject \"Away\" \"I am away.\";\n}\n"
    "### Nextcloud Mail: Vacation Responder ### DON'T EDIT ###\n";
inline constexpr const char* kNextcloudOff =
    "### Nextcloud Mail: Vacation Responder ### DON'T EDIT ###\n"
    "# DATA: {\"version\":1,\"enabled\":false,\"start\":\"2026-12-24\",\"end\":\"2027-01-06\"}\n"
    "### Nextcloud Mail: Vacation Responder ### DON'T EDIT ###\n";
inline constexpr const char* kHorde =
    "require [\"vacation\", \"regex\", \"date\", \"relational\"];\n# Vacation\n"
    "if allof ( not exists [\"list-help\", \"list-id\"], currentdate :value \"ge\" \"date\" "
    "\"2026-12-24\" ) {\nvacation :days 7 :addresses \"a@example.com\" \"I am away.\";\n}\n";
inline constexpr const char* kFilters =
    "require \"fileinto\";\nif header :contains \"subject\" \"[list]\" "
    "{\n  fileinto \"Lists\";\n}\n";

inline std::string RainLoop() {
    const QByteArray header = QByteArray(R"({"ID":"6a9f","Name":"Holiday reply"})").toBase64();
    return "# RAINLOOP:SIEVE\r\nrequire [\"vacation\"];\r\n/*\r\nBEGIN:FILTER:6a9f\r\n"
           "BEGIN:HEADER\r\n" +
           header.toStdString() +
           "\r\nEND:HEADER\r\n*/\r\nif true\r\n{\r\n\tvacation \"On holiday.\";\r\n}\r\n"
           "/*\r\nEND:FILTER\r\n*/\r\n";
}

// A script that no Sieve reader can parse: a string that is never closed, on line 3.
inline constexpr const char* kDamaged = "require \"vacation\";\n\nvacation \"away;\n";

} // namespace testing_support::sieve_scripts
