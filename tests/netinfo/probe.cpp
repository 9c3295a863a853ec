// Prints what the survey sees and how long it takes: the adapter records, the document without
// and with the router lookup. A measuring tool; run it only inside a network namespace
// (tests/netns-run), since it searches for a router.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "netinfo/address_text.h"
#include "netinfo/collect.h"
#include "netinfo/selection.h"
#include "netinfo/survey.h"
#include "platform/net.h"

using namespace nerova;
using Clock = std::chrono::steady_clock;

namespace {

double milliseconds_since(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

std::string list_text(const std::vector<netinfo::AddressEntry>& entries) {
    std::string out;
    for (const auto& entry : entries) out += (out.empty() ? "" : ",") + netinfo::address_to_text(entry);
    return out;
}

void print_adapters(const netinfo::Survey& survey) {
    std::printf("computer name: %s\n", survey.computer_name.c_str());
    for (const netinfo::AdapterRecord& adapter : survey.adapters) {
        netinfo::AdapterRecord copy = adapter;
        std::printf("adapter '%s' / '%s' oper=%u type=%u flags=0x%x mac=%s (len %u)\n  unicast=%s\n  gateways=%s\n  dns=%s\n",
                    adapter.friendly_name.c_str(), adapter.description.c_str(), adapter.oper_status, adapter.if_type,
                    adapter.flags, netinfo::hardware_address_text(copy).c_str(), adapter.hardware_address_length,
                    list_text(adapter.unicast_addresses).c_str(), list_text(adapter.gateway_addresses).c_str(),
                    list_text(adapter.dns_server_addresses).c_str());
    }
}

}  // namespace

int main(int argc, char** argv) {
    int repeats = 20;
    bool show_adapters = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--adapters") == 0) show_adapters = true;
        else if (std::strcmp(argv[i], "--repeat") == 0 && i + 1 < argc) repeats = std::max(1, std::atoi(argv[++i]));
    }
    // It searches for a router: never on the machine's own network.
    const char* marker = std::getenv("NEROVA_IN_NETNS");
    if (marker == nullptr || std::string(marker) != "1") {
        std::fprintf(stderr, "netinfo_probe: run it inside tests/netns-run\n");
        return 77;
    }
    platform::init_sockets();

    netinfo::Survey survey;
    const auto survey_start = Clock::now();
    for (int i = 0; i < repeats; ++i) survey = netinfo::survey_adapters();
    const double survey_ms = milliseconds_since(survey_start) / repeats;
    if (show_adapters) print_adapters(survey);
    std::printf("survey without router lookup: %.2f ms (mean of %d)\n", survey_ms, repeats);
    std::printf("%s\n", netinfo::status_to_json(netinfo::status_from_survey("probe", survey, std::nullopt)).c_str());

    const auto collect_start = Clock::now();
    const netinfo::StatusDocument status = netinfo::collect_status("probe");
    std::printf("collect_status: %.1f ms\n", milliseconds_since(collect_start));
    std::printf("%s\n", netinfo::status_to_json(status).c_str());
    return 0;
}
