// The page message built from any pager name and text, read back with GMime (a mail parser that
// shares no code with ours): one recipient with that name and address, an empty subject, the
// text itself, and no header beyond the ones the composer writes. A name with a control
// character must be refused before anything is written.
#include "FuzzCheck.h"
#include "core/Text.h"
#include "mailsystem/transport/Transport.h"

#include <gmime/gmime.h>

namespace {

constexpr const char* kPagerAddress = "5550101@pager.example.net";
constexpr const char* kSender = "orvane@mailhost.example.org";

// What GMime gives for a name: UTF-8, decoded from the 8-bit code page when it was not UTF-8.
// Empty when the name has bytes that code page leaves undefined (nothing to compare then).
bool ExpectedName(const std::string& name, std::string& out) {
    if (mail::IsValidUtf8(name)) {
        out = name;
        return true;
    }
    gsize written = 0;
    gchar* converted = g_convert(name.data(), static_cast<gssize>(name.size()), "UTF-8",
                                 "WINDOWS-1252", nullptr, &written, nullptr);
    if (!converted)
        return false;
    out.assign(converted, written);
    g_free(converted);
    return true;
}

std::string WithoutCarriageReturns(std::string_view text) {
    std::string out;
    for (char c : text) {
        if (c != '\r')
            out += c;
    }
    return out;
}

void CheckLines(const std::string& message) {
    size_t lineLength = 0;
    for (size_t i = 0; i < message.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(message[i]);
        FUZZ_CHECK(c < 0x80, "an 8-bit byte reaches the server");
        if (c == '\r') {
            FUZZ_CHECK(i + 1 < message.size() && message[i + 1] == '\n', "a bare CR");
            continue;
        }
        if (c == '\n') {
            FUZZ_CHECK(i > 0 && message[i - 1] == '\r', "a bare LF");
            lineLength = 0;
            continue;
        }
        FUZZ_CHECK(++lineLength <= 998, "a line longer than 998 octets");
    }
    FUZZ_CHECK(message.size() >= 2 && message.compare(message.size() - 2, 2, "\r\n") == 0,
               "the message does not end with a line end");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    g_mime_init();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Input input(data, size);
    const std::string name(input.Piece(255));
    const std::string text(input.Rest());

    mail::OutgoingMessage page;
    page.recipients.push_back({mail::OutgoingRecipient::Kind::To, name, kPagerAddress});
    page.body = text;
    const mail::DeliveryResult check = mail::CheckMessage(page);
    std::string composed, error;
    const bool written = mail::ComposeMessage(kSender, page, 1773493440,
                                              "1773493440.1.0.0@mailhost", composed, error);
    if (HasControlCharacter(name)) {
        FUZZ_CHECK(check.outcome == mail::DeliveryOutcome::InvalidRecipient && !written,
                   "a name with a control character was not refused");
        return 0;
    }
    FUZZ_CHECK(check.ok() && written, "a page was refused: " + error);
    CheckLines(composed);

    GMimeStream* stream = g_mime_stream_mem_new_with_buffer(composed.data(), composed.size());
    GMimeParser* parser = g_mime_parser_new_with_stream(stream);
    GMimeMessage* message = g_mime_parser_construct_message(parser, nullptr);
    FUZZ_CHECK(message != nullptr, "GMime cannot read the page");

    // Exactly the composer's headers, each once, in its order.
    static const char* const kHeaders[] = {
        "Date",       "From",         "To",           "Subject",
        "Message-ID", "MIME-Version", "Content-Type", "Content-Transfer-Encoding",
        "X-Mailer"};
    std::vector<std::string> seen;
    GMimeObject* body = g_mime_message_get_mime_part(message);
    FUZZ_CHECK(body && GMIME_IS_PART(body), "the page is not a single text part");
    for (GMimeObject* object : {GMIME_OBJECT(message), body}) {
        GMimeHeaderList* headers = g_mime_object_get_header_list(object);
        for (int i = 0; i < g_mime_header_list_get_count(headers); ++i) {
            const std::string header =
                g_mime_header_get_name(g_mime_header_list_get_header_at(headers, i));
            if (std::find(seen.begin(), seen.end(), header) == seen.end())
                seen.push_back(header);
        }
    }
    std::vector<std::string> expected(std::begin(kHeaders), std::end(kHeaders));
    std::sort(seen.begin(), seen.end());
    std::sort(expected.begin(), expected.end());
    FUZZ_CHECK(seen == expected, "the page has other headers than the composer writes");

    InternetAddressList* to = g_mime_message_get_addresses(message, GMIME_ADDRESS_TYPE_TO);
    FUZZ_CHECK(internet_address_list_length(to) == 1, "the page has not exactly one recipient");
    FUZZ_CHECK(internet_address_list_length(
                   g_mime_message_get_addresses(message, GMIME_ADDRESS_TYPE_CC)) == 0 &&
                   internet_address_list_length(
                       g_mime_message_get_addresses(message, GMIME_ADDRESS_TYPE_BCC)) == 0,
               "the page has copies");
    InternetAddress* recipient = internet_address_list_get_address(to, 0);
    FUZZ_CHECK(INTERNET_ADDRESS_IS_MAILBOX(recipient), "the recipient is a group");
    FUZZ_CHECK(std::string(internet_address_mailbox_get_addr(
                   INTERNET_ADDRESS_MAILBOX(recipient))) == kPagerAddress,
               "the recipient's address changed");
    std::string wantedName;
    if (ExpectedName(name, wantedName)) {
        // GMime trims blanks at the ends of a name, as mail readers show them.
        const char* got = internet_address_get_name(recipient);
        FUZZ_CHECK(TrimBlanks(got ? got : "") == TrimBlanks(wantedName),
                   "the recipient's name reads back as \"" + std::string(got ? got : "") + "\"");
    }
    const char* subject = g_mime_message_get_subject(message);
    FUZZ_CHECK(!subject || !*subject, "the page has a subject");

    GMimeDataWrapper* content = g_mime_part_get_content(GMIME_PART(body));
    GMimeStream* decoded = g_mime_stream_mem_new();
    g_mime_data_wrapper_write_to_stream(content, decoded);
    GByteArray* bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(decoded));
    const std::string got(reinterpret_cast<const char*>(bytes->data), bytes->len);
    std::string want = mail::NormalizeLineEnds(text);
    if (!want.empty() &&
        want.compare(want.size() - std::min<size_t>(2, want.size()), 2, "\r\n") != 0)
        want += "\r\n";
    FUZZ_CHECK(WithoutCarriageReturns(got) == WithoutCarriageReturns(want),
               "the page text does not read back as sent");

    g_object_unref(decoded);
    g_object_unref(message);
    g_object_unref(parser);
    g_object_unref(stream);
    return 0;
}
