// A stand-in router on loopback: the description and the SOAP control endpoint on one test
// HTTP server, with the texts the tests choose.
#pragma once

#include <optional>
#include <string>
#include <vector>

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

// A service of the strict router: its type, where it is controlled, and the address it reports
// (nothing: it answers with a UPnP error, as a service whose connection is down does).
struct StandInService {
    std::string type;
    std::string control_path;
    std::optional<std::string> address;
};

inline std::string description_of(const std::vector<StandInService>& services) {
    std::string text = "<?xml version=\"1.0\"?>\r\n<root xmlns=\"urn:schemas-upnp-org:device-1-0\"><device>"
                       "<deviceType>urn:schemas-upnp-org:device:InternetGatewayDevice:1</deviceType><deviceList>"
                       "<device><deviceType>urn:schemas-upnp-org:device:WANConnectionDevice:1</deviceType>"
                       "<serviceList>\r\n";
    for (const StandInService& service : services) {
        text += "<service>\r\n  <serviceType>" + service.type + "</serviceType>\r\n  <serviceId>urn:upnp-org:serviceId:"
                "WANConn</serviceId>\r\n  <controlURL>" + service.control_path + "</controlURL>\r\n"
                "  <SCPDURL>/WANIPConnection.xml</SCPDURL>\r\n</service>\r\n";
    }
    return text + "</serviceList></device></deviceList></device></root>\r\n";
}

// "urn:schemas-upnp-org:service:WANIPConnection:2" without its ":2".
inline std::string without_version(const std::string& type) {
    const std::size_t colon = type.rfind(':');
    return colon == std::string::npos ? type : type.substr(0, colon);
}

// A router as strict as the stacks built on libupnp: a SOAPAction (and the body's xmlns:u) whose
// service type, version aside, is not that of the service at the control URL gets 401 Invalid
// Action; otherwise the service's address, or a UPnP error for a service without one.
inline TestHttpServer::Handler strict_router(std::vector<StandInService> services) {
    return [services](platform::Socket& connection, const std::string& request) {
        std::string response = http_response("404 Not Found", "");
        if (request.compare(0, 4, "GET ") == 0) response = http_response("200 OK", description_of(services));
        for (const StandInService& service : services) {
            if (request.rfind("POST " + service.control_path + " ", 0) != 0) continue;
            const std::size_t action = request.find("\r\nSOAPAction: \"");
            const std::size_t hash = request.find("#GetExternalIPAddress\"\r\n", action);
            const std::size_t xmlns = request.find("<u:GetExternalIPAddress xmlns:u=\"");
            const std::string named = action == std::string::npos || hash == std::string::npos
                                          ? std::string()
                                          : request.substr(action + 15, hash - action - 15);
            const bool body_names_it = xmlns != std::string::npos && request.compare(xmlns + 33, named.size() + 1, named + "\"") == 0;
            if (without_version(named) != without_version(service.type) || !body_names_it) {
                response = http_response("401 Invalid Action", "<s:Envelope><s:Body><s:Fault><detail><UPnPError>"
                                                               "<errorCode>401</errorCode><errorDescription>Invalid Action"
                                                               "</errorDescription></UPnPError></detail></s:Fault></s:Body></s:Envelope>");
            } else if (service.address) {
                response = http_response("200 OK", soap_answer(*service.address));
            } else {
                response = http_response("500 Internal Server Error",
                                         "<s:Envelope><s:Body><s:Fault><detail><UPnPError><errorCode>706</errorCode>"
                                         "<errorDescription>ConnectionNotConfigured</errorDescription></UPnPError>"
                                         "</detail></s:Fault></s:Body></s:Envelope>");
            }
        }
        connection.send_all(response.data(), response.size());
    };
}

}  // namespace nerova::upnp::testing
