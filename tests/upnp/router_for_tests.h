// A stand-in router on loopback: the description and the SOAP control endpoint on one test
// HTTP server, with the texts the tests choose.
#pragma once

#include <string>

#include "loopback.h"

namespace nerova::upnp::testing {

using test::TestHttpServer;
using test::answer_with;
using test::http_response;

// A device description with a WANIPConnection service at `control_url`.
inline std::string igd_description(const std::string& control_url) {
    return "<?xml version=\"1.0\"?>\r\n<root xmlns=\"urn:schemas-upnp-org:device-1-0\"><device>"
           "<deviceType>urn:schemas-upnp-org:device:InternetGatewayDevice:1</deviceType>"
           "<serviceList><service><serviceType>urn:schemas-upnp-org:service:Layer3Forwarding:1</serviceType>"
           "<controlURL>/ctl/L3F</controlURL></service></serviceList><deviceList><device><deviceList><device>"
           "<serviceList><service><serviceType>urn:schemas-upnp-org:service:WANIPConnection:1</serviceType>"
           "<serviceId>urn:upnp-org:serviceId:WANIPConn1</serviceId>"
           "<controlURL>" + control_url + "</controlURL><eventSubURL>/evt/IPConn</eventSubURL>"
           "</service></serviceList></device></deviceList></device></deviceList></device></root>\r\n";
}

inline std::string soap_answer(const std::string& value) {
    return "<?xml version=\"1.0\"?>\r\n<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\" "
           "s:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\"><s:Body>"
           "<u:GetExternalIPAddressResponse xmlns:u=\"urn:schemas-upnp-org:service:WANIPConnection:1\">"
           "<NewExternalIPAddress>" + value + "</NewExternalIPAddress>"
           "</u:GetExternalIPAddressResponse></s:Body></s:Envelope>\r\n";
}

// GET answers with the description, POST with the SOAP answer.
inline TestHttpServer::Handler router(std::string description, std::string soap) {
    return [description, soap](platform::Socket& connection, const std::string& request) {
        const std::string response =
            http_response("200 OK", request.compare(0, 4, "GET ") == 0 ? description : soap);
        connection.send_all(response.data(), response.size());
    };
}

}  // namespace nerova::upnp::testing
