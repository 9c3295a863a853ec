// The router's texts: the control URL in a device description, the absolute control URL, the
// address in a SOAP answer and the body cut from an HTTP response.
#include <arpa/inet.h>

#include "common/text.h"
#include "fuzz_support.h"
#include "upnp/description.h"
#include "upnp/http_client.h"
#include "upnp/http_url.h"
#include "upnp/soap.h"

namespace {

// The C library's reading of a dotted quad, written back: equal only for the canonical form.
bool canonical_ipv4(const std::string& text) {
    in_addr address{};
    if (::inet_pton(AF_INET, text.c_str(), &address) != 1) return false;
    char written[INET_ADDRSTRLEN] = {};
    return ::inet_ntop(AF_INET, &address, written, sizeof written) != nullptr && text == written;
}

void check_description(const std::string& description) {
    const std::optional<std::string> url = nerova::upnp::control_url_in_description(description);
    // Read off the raw bytes, the URL is the one the decoded text holds (which may only run past
    // the size bound where the raw one does not).
    const std::optional<std::string> from_text =
        nerova::upnp::control_url_in_description(nerova::text::utf8_lossy(description));
    if (from_text) FUZZ_CHECK(url == from_text);
    if (!url) return;
    FUZZ_CHECK(!url->empty() && fuzz::valid_utf8(*url) && fuzz::is_trimmed(*url));
    if (!fuzz::valid_utf8(description)) return;
    const std::size_t service =
        std::min(description.find("WANIPConnection"), description.find("WANPPPConnection"));
    FUZZ_CHECK(service != std::string::npos);
    const std::size_t open = description.find("<controlURL>", service);
    FUZZ_CHECK(open != std::string::npos);
    const std::size_t at = description.find(*url, open + 12);
    FUZZ_CHECK(at != std::string::npos && at + url->size() <= description.find("</controlURL>", open + 12));
}

void check_control_url(const std::string& location, const std::string& control) {
    const std::optional<std::string> absolute = nerova::upnp::absolute_control_url(location, control);
    const bool already = control.rfind("http://", 0) == 0 || control.rfind("https://", 0) == 0;
    if (already) {
        FUZZ_CHECK(absolute == control);
        return;
    }
    const std::optional<nerova::upnp::HttpUrl> base = nerova::upnp::parse_http_url(location);
    FUZZ_CHECK(absolute.has_value() == base.has_value());
    if (!absolute) return;
    FUZZ_CHECK(absolute->size() >= control.size() &&
               absolute->compare(absolute->size() - control.size(), control.size(), control) == 0);
    // The host and port of the location, the path from the root, whatever the location's path.
    const std::optional<nerova::upnp::HttpUrl> endpoint = nerova::upnp::parse_http_url(*absolute);
    FUZZ_CHECK(endpoint && endpoint->host == base->host && endpoint->port == base->port);
    FUZZ_CHECK(endpoint->path == (control.rfind('/', 0) == 0 ? control : "/" + control));
}

void check_answer(const std::string& answer) {
    const std::optional<std::string> address = nerova::upnp::external_ip_in_answer(answer);
    if (address) {
        FUZZ_CHECK(canonical_ipv4(*address));
        FUZZ_CHECK(answer.find("NewExternalIPAddress") != std::string::npos);
    }
    // Read off the raw bytes, the answer is what it would be off the decoded text.
    FUZZ_CHECK(address == nerova::upnp::external_ip_in_answer(nerova::text::utf8_lossy(answer)));
}

void check_response(const std::string& response) {
    const std::optional<std::string> body = nerova::upnp::response_body(response);
    FUZZ_CHECK(body.has_value() == (response.find("\r\n\r\n") != std::string::npos));
    if (!body) return;
    FUZZ_CHECK(response.find("\r\n\r\n") + 4 == response.size() - body->size());
    FUZZ_CHECK(response.compare(response.size() - body->size(), body->size(), *body) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider provider(data, size);
    const std::string first = provider.ConsumeRandomLengthString(512);
    const std::string rest = provider.ConsumeRemainingBytesAsString();
    check_description(rest);
    check_control_url(first, rest);
    check_answer(rest);
    check_response(rest);
    FUZZ_CHECK(nerova::upnp::is_dotted_quad(first) == canonical_ipv4(first));
    return 0;
}
