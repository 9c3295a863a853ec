// Hand-made adapter records for the selection tests.
#pragma once

#include <initializer_list>
#include <stdexcept>
#include <string>

#include "netinfo/adapter.h"
#include "platform/net.h"

namespace nerova::netinfo::testing {

inline AddressEntry ip(const std::string& text) {
    AddressEntry address = platform::parse_ip_literal(text, 0);
    if (!address) throw std::invalid_argument("not an address: " + text);
    return address;
}

inline AdapterRecord adapter(const std::string& friendly_name, const std::string& description,
                             std::initializer_list<AddressEntry> unicast, std::uint32_t if_type = INTERFACE_TYPE_ETHERNET,
                             std::uint32_t oper_status = OPER_STATUS_UP) {
    AdapterRecord record;
    record.friendly_name = friendly_name;
    record.description = description;
    record.unicast_addresses = unicast;
    record.if_type = if_type;
    record.oper_status = oper_status;
    return record;
}

}  // namespace nerova::netinfo::testing
