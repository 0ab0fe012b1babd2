// Rule names and switched-off vacations as Roundcube, Horde Ingo, Nextcloud Mail, SnappyMail and
// RainLoop, and SOGo leave them in the comments of the scripts they write.
#include "mailsystem/sieve/WriterMarks.h"

#include "core/Text.h"

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <string_view>
#include <vector>

namespace mail::sieve {
namespace {

constexpr const char* kNextcloudMarker = "Nextcloud Mail: Vacation Responder";
constexpr const char* kRainLoopBegin = "BEGIN:FILTER:";
constexpr const char* kRainLoopEnd = "END:FILTER";
constexpr size_t kMaxNameLength = 80;

// A stretch of lines a front end marked as one rule.
struct Region {
    int first = 0, last = 0; // lines, both included
    std::string name;
    size_t openComment = 0, closeComment = 0; // indexes into the script's comments
};

std::string Clean(std::string_view text) {
    text = TrimBlanks(text);
    std::string out;
    for (char c : text.substr(0, kMaxNameLength)) {
        if (!IsControlCharacter(static_cast<unsigned char>(c)))
            out += c;
    }
    return out;
}

bool ContainsNoCase(std::string_view text, std::string_view word) {
    if (word.size() > text.size())
        return false;
    for (size_t i = 0; i + word.size() <= text.size(); ++i) {
        size_t k = 0;
        while (k < word.size() && (text[i + k] | 0x20) == (word[k] | 0x20))
            ++k;
        if (k == word.size())
            return true;
    }
    return false;
}

// The filter's name from its header: base64 lines between BEGIN:HEADER and END:HEADER holding a
// JSON object with a "Name" (SnappyMail) or "name" field.
std::string RainLoopName(std::string_view comment) {
    const size_t begin = comment.find("BEGIN:HEADER");
    const size_t end = comment.find("END:HEADER");
    if (begin == std::string_view::npos || end == std::string_view::npos || end < begin)
        return {};
    std::string encoded;
    for (char c : comment.substr(begin + 12, end - begin - 12)) {
        if (c != '\r' && c != '\n' && c != ' ' && c != '\t')
            encoded += c;
    }
    const QByteArray json = QByteArray::fromBase64(QByteArray::fromStdString(encoded));
    const QJsonObject object = QJsonDocument::fromJson(json).object();
    for (const char* key : {"Name", "name"}) {
        const QString name = object.value(QLatin1String(key)).toString();
        if (!name.isEmpty())
            return Clean(name.toStdString());
    }
    return {};
}

std::vector<Region> NextcloudRegions(const Script& script) {
    std::vector<Region> regions;
    bool open = false;
    for (size_t i = 0; i < script.comments.size(); ++i) {
        const Comment& c = script.comments[i];
        if (!c.hash || c.text.find(kNextcloudMarker) == std::string::npos)
            continue;
        if (!open) {
            regions.push_back({c.line, c.line, "Vacation Responder", i, i});
        } else {
            regions.back().last = c.line;
            regions.back().closeComment = i;
        }
        open = !open;
    }
    if (open)
        regions.pop_back();
    return regions;
}

std::vector<Region> RainLoopRegions(const Script& script) {
    std::vector<Region> regions;
    for (size_t i = 0; i < script.comments.size(); ++i) {
        const Comment& c = script.comments[i];
        if (c.hash)
            continue;
        const size_t begin = c.text.find(kRainLoopBegin);
        if (begin != std::string::npos) {
            std::string_view id = std::string_view(c.text).substr(begin + 13);
            id = id.substr(0, id.find_first_of("\r\n"));
            std::string name = RainLoopName(c.text);
            regions.push_back({c.line, c.endLine, name.empty() ? Clean(id) : name, i, i});
        } else if (c.text.find(kRainLoopEnd) != std::string::npos && !regions.empty() &&
                   regions.back().closeComment == regions.back().openComment) {
            regions.back().last = c.endLine;
            regions.back().closeComment = i;
        }
    }
    return regions;
}

const Region* Around(const std::vector<Region>& regions, const Command& command) {
    for (const Region& r : regions) {
        if (r.closeComment != r.openComment && r.first <= command.line && command.endLine <= r.last)
            return &r;
    }
    return nullptr;
}

// The comments between the end of the command before `index` and the start of this one.
std::vector<const Comment*> Leading(const Script& script, size_t index) {
    const int after = index == 0 ? 0 : script.commands[index - 1].endLine;
    const int before = script.commands[index].line;
    std::vector<const Comment*> out;
    for (const Comment& c : script.comments) {
        if (c.line > after && c.endLine <= before)
            out.push_back(&c);
    }
    return out;
}

bool HasCommandWithin(const Script& script, const Region& region) {
    for (const Command& c : script.commands) {
        if (region.first <= c.line && c.endLine <= region.last)
            return true;
    }
    return false;
}

} // namespace

RuleMark MarkOf(const Script& script, size_t index, const std::string& scriptName) {
    if (index >= script.commands.size())
        return {};
    const Command& command = script.commands[index];
    for (const Comment* c : Leading(script, index)) {
        if (!c->hash)
            continue;
        const std::string_view text = TrimBlanks(c->text);
        if (text.rfind("rule:[", 0) == 0 && text.back() == ']')
            return {Clean(text.substr(6, text.size() - 7)), "Roundcube"};
    }
    const std::vector<Region> nextcloud = NextcloudRegions(script);
    if (const Region* r = Around(nextcloud, command))
        return {r->name, "Nextcloud Mail"};
    const std::vector<Region> rainLoop = RainLoopRegions(script);
    if (const Region* r = Around(rainLoop, command))
        return {r->name, "SnappyMail/RainLoop"};
    for (const Comment* c : Leading(script, index)) {
        if (c->hash && TrimBlanks(c->text) == "Vacation")
            return {"Vacation", "Horde Ingo"};
    }
    if (scriptName == "sogo")
        return {{}, "SOGo"};
    return {};
}

SwitchedOff SwitchedOffVacation(const Script& script, const std::string& scriptName) {
    for (const Region& r : NextcloudRegions(script)) {
        if (HasCommandWithin(script, r))
            continue;
        for (size_t i = r.openComment + 1; i < r.closeComment; ++i) {
            const std::string_view text = TrimBlanks(script.comments[i].text);
            if (text.rfind("DATA:", 0) != 0)
                continue;
            const QByteArray json = QByteArray::fromStdString(std::string(text.substr(5)));
            const QJsonObject data = QJsonDocument::fromJson(json).object();
            if (data.value(QLatin1String("enabled")).toBool(true) == false)
                return {"Nextcloud Mail", "Nextcloud Mail's vacation responder is switched off"};
        }
    }
    for (const Region& r : RainLoopRegions(script)) {
        if (HasCommandWithin(script, r))
            continue;
        for (size_t i = r.openComment + 1; i < r.closeComment; ++i) {
            if (ContainsNoCase(script.comments[i].text, "vacation"))
                return {"SnappyMail/RainLoop",
                        "the SnappyMail/RainLoop filter \"" + r.name + "\" is disabled"};
        }
    }
    if (scriptName == "sogo")
        return {"SOGo", "SOGo leaves a switched-off vacation out of its script"};
    return {};
}

} // namespace mail::sieve
