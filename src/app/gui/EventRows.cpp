// The Events view's rows: the session's entries, the JSON event file's lines, and the filter.
#include "app/gui/EventRows.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <tuple>

namespace events {
namespace {

std::string JoinStrings(const std::vector<std::string>& strings) {
    std::string text;
    for (const std::string& s : strings)
        text += (text.empty() ? "" : " ") + s;
    return text;
}

bool Newer(const EventRow& a, const EventRow& b) {
    return a.time > b.time;
}

// One line of the file as a row; false when it is not an event object.
bool ParseLine(const std::string& line, EventRow& row) {
    QJsonParseError parseError;
    const QJsonDocument document =
        QJsonDocument::fromJson(QByteArray::fromStdString(line), &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject())
        return false;
    const QJsonObject object = document.object();
    const QDateTime time = QDateTime::fromString(object.value("time").toString(), Qt::ISODate);
    if (!time.isValid() || !object.value("strings").isArray())
        return false;
    row.time = time.toSecsSinceEpoch();
    row.type = object.value("type").toString().toStdString();
    std::vector<std::string> strings;
    for (const QJsonValue& value : object.value("strings").toArray())
        strings.push_back(value.toString().toStdString());
    row.text = JoinStrings(strings);
    return true;
}

} // namespace

std::vector<EventRow> RowsOf(const std::vector<EventLog::Entry>& entries) {
    std::vector<EventRow> rows;
    rows.reserve(entries.size());
    for (const EventLog::Entry& entry : entries)
        rows.push_back(
            {entry.written.GetTime(), EventLog::TypeText(entry.type), JoinStrings(entry.strings)});
    return rows;
}

bool ReadEventFile(const std::string& path, size_t maxBytes, std::vector<EventRow>& rows,
                   size_t& skipped, std::string& error) {
    rows.clear();
    skipped = 0;
    std::error_code ec;
    if (!std::filesystem::exists(path, ec) && !ec)
        return true;
    // A directory opens as a stream on Linux, and fails only at the first read.
    std::ifstream in;
    if (!std::filesystem::is_directory(path, ec))
        in.open(path, std::ios::binary | std::ios::ate);
    const std::streamoff size = in ? static_cast<std::streamoff>(in.tellg()) : -1;
    if (size < 0) {
        error = "The event file " + path + " cannot be read.";
        return false;
    }
    const std::streamoff start = size > static_cast<std::streamoff>(maxBytes)
                                     ? size - static_cast<std::streamoff>(maxBytes)
                                     : 0;
    in.seekg(start);
    std::string line;
    if (start > 0)
        std::getline(in, line); // the rest of a line cut by the start
    while (std::getline(in, line)) {
        if (line.empty())
            continue;
        EventRow row;
        if (ParseLine(line, row))
            rows.push_back(std::move(row));
        else
            ++skipped;
    }
    std::stable_sort(rows.begin(), rows.end(),
                     [](const EventRow& a, const EventRow& b) { return a.time > b.time; });
    return true;
}

std::vector<EventRow> Merge(const std::vector<EventRow>& first,
                            const std::vector<EventRow>& second) {
    using Key = std::tuple<int64_t, std::string, std::string>;
    std::multiset<Key> held;
    for (const EventRow& row : first)
        held.insert({row.time, row.type, row.text});
    std::vector<EventRow> rows = first;
    for (const EventRow& row : second) {
        auto found = held.find({row.time, row.type, row.text});
        if (found != held.end())
            held.erase(found); // one line of the file per entry of the session
        else
            rows.push_back(row);
    }
    std::stable_sort(rows.begin(), rows.end(), Newer);
    return rows;
}

EventFilter FilterForUser(const UserlistStru& user) {
    EventFilter filter;
    for (const CString& name : {user.DisplayName, user.MailboxName, user.PagerName}) {
        if (!name.empty())
            filter.userNames.push_back(name);
    }
    return filter;
}

bool Matches(const EventRow& row, const EventFilter& filter) {
    if (!filter.type.empty() && row.type != filter.type)
        return false;
    if (filter.userNames.empty())
        return true;
    return std::any_of(
        filter.userNames.begin(), filter.userNames.end(),
        [&row](const std::string& name) { return row.text.find(name) != std::string::npos; });
}

} // namespace events
