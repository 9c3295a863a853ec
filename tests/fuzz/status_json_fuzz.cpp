// json_escape and status_to_json read back with a strict JSON parser: the document is one object
// with the thirteen members in order, no white space, and every string decodes to its input.
#include "fuzz_support.h"
#include "netinfo/status.h"

namespace {

using fuzz::JsonValue;
using nerova::netinfo::StatusDocument;

// The only escapes the writer may use: the five short forms and \u00xx in lower-case hex, for
// control characters only.
void check_escape_forms(std::string_view escaped) {
    for (std::size_t i = 0; i < escaped.size(); ++i) {
        const auto c = static_cast<unsigned char>(escaped[i]);
        FUZZ_CHECK(c >= 0x20);
        FUZZ_CHECK(c != '"');
        if (c != '\\') continue;
        FUZZ_CHECK(i + 1 < escaped.size());
        const char kind = escaped[++i];
        if (kind == 'u') {
            FUZZ_CHECK(escaped.substr(i + 1, 2) == "00" && i + 4 < escaped.size());
            const char high = escaped[i + 3];
            const char low = escaped[i + 4];
            FUZZ_CHECK(high == '0' || high == '1');
            FUZZ_CHECK((low >= '0' && low <= '9') || (low >= 'a' && low <= 'f'));
            const int code = (high - '0') * 16 + (low <= '9' ? low - '0' : low - 'a' + 10);
            FUZZ_CHECK(code != '\t' && code != '\n' && code != '\r');
            i += 4;
        } else {
            FUZZ_CHECK(kind == 't' || kind == 'n' || kind == 'r' || kind == '"' || kind == '\\');
        }
    }
}

const JsonValue& member(const JsonValue& object, std::size_t index, std::string_view name, JsonValue::Kind kind) {
    FUZZ_CHECK(object.members[index].first == name);
    FUZZ_CHECK(object.members[index].second.kind == kind);
    return object.members[index].second;
}

void expect_string(const JsonValue& object, std::size_t index, std::string_view name, const std::string& input) {
    FUZZ_CHECK(member(object, index, name, JsonValue::Kind::string).text == input);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider provider(data, size);
    StatusDocument status;
    std::string* texts[] = {&status.localIp,        &status.wanIp,        &status.gatewayIp, &status.macAddress,
                            &status.deviceName,     &status.interfaceAlias, &status.interfaceType,
                            &status.networkMode,    &status.wanSource,    &status.token};
    for (std::string* text : texts) *text = provider.ConsumeRandomLengthString(64);
    for (int count = provider.ConsumeIntegralInRange(0, 4); count > 0; --count) {
        status.dnsServers.push_back(provider.ConsumeRandomLengthString(64));
    }
    status.dhcpEnabled = provider.ConsumeBool();
    status.routerDetected = provider.ConsumeBool();
    const std::string rest = provider.ConsumeRemainingBytesAsString();

    // The program only hands valid UTF-8 to the writer; for other bytes the writer must still
    // keep them byte for byte, which the parser checks with UTF-8 checking off.
    bool all_valid = fuzz::valid_utf8(rest);
    for (const std::string* text : texts) all_valid = all_valid && fuzz::valid_utf8(*text);
    for (const std::string& server : status.dnsServers) all_valid = all_valid && fuzz::valid_utf8(server);

    const std::string escaped = nerova::netinfo::json_escape(rest);
    check_escape_forms(escaped);
    {
        fuzz::JsonParser parser("\"" + escaped + "\"", all_valid);
        const std::optional<JsonValue> value = parser.document();
        FUZZ_CHECK(value && value->kind == JsonValue::Kind::string && value->text == rest);
    }

    const std::string json = nerova::netinfo::status_to_json(status);
    FUZZ_CHECK(json == nerova::netinfo::status_to_json(status));
    fuzz::JsonParser parser(json, all_valid);
    const std::optional<JsonValue> document = parser.document();
    FUZZ_CHECK(document && document->kind == JsonValue::Kind::object);
    FUZZ_CHECK(!parser.saw_white_space());
    FUZZ_CHECK(document->members.size() == 13);
    expect_string(*document, 0, "localIp", status.localIp);
    expect_string(*document, 1, "wanIp", status.wanIp);
    expect_string(*document, 2, "gatewayIp", status.gatewayIp);
    const JsonValue& servers = member(*document, 3, "dnsServers", JsonValue::Kind::array);
    FUZZ_CHECK(servers.items.size() == status.dnsServers.size());
    for (std::size_t i = 0; i < servers.items.size(); ++i) {
        FUZZ_CHECK(servers.items[i].kind == JsonValue::Kind::string && servers.items[i].text == status.dnsServers[i]);
    }
    expect_string(*document, 4, "macAddress", status.macAddress);
    expect_string(*document, 5, "deviceName", status.deviceName);
    expect_string(*document, 6, "interfaceAlias", status.interfaceAlias);
    expect_string(*document, 7, "interfaceType", status.interfaceType);
    FUZZ_CHECK(member(*document, 8, "dhcpEnabled", JsonValue::Kind::boolean).boolean == status.dhcpEnabled);
    expect_string(*document, 9, "networkMode", status.networkMode);
    expect_string(*document, 10, "wanSource", status.wanSource);
    FUZZ_CHECK(member(*document, 11, "routerDetected", JsonValue::Kind::boolean).boolean == status.routerDetected);
    expect_string(*document, 12, "token", status.token);
    return 0;
}
