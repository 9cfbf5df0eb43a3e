#include "httptunnel.h"

#include <Poco/Base64Encoder.h>
#include <sstream>

using Poco::Net::StreamSocket;

namespace {

std::string Base64(const std::string& text)
{
    std::ostringstream out;
    Poco::Base64Encoder encoder(out);
    encoder.rdbuf()->setLineLength(0);
    encoder << text;
    encoder.close();
    return out.str();
}

}  // namespace

HttpConnectTunnel::HttpConnectTunnel(std::string user, std::string password, const std::string& host)
    : ExpectedCredentials(user.empty() ? "" : Base64(user + ":" + password)),
      Service([this](StreamSocket client) { Serve(client); }, host)
{
}

std::vector<std::string> HttpConnectTunnel::Requests() const
{
    std::lock_guard<std::mutex> guard(Lock);
    return Received;
}

void HttpConnectTunnel::Record(const std::string& line)
{
    std::lock_guard<std::mutex> guard(Lock);
    Received.push_back(line);
}

void HttpConnectTunnel::Serve(StreamSocket client)
{
    LineReader reader(client);
    std::string requestLine;
    if (!reader.ReadLine(requestLine))
        return;
    Record(requestLine);
    std::string credentials;
    std::string header;
    while (reader.ReadLine(header) && !header.empty()) {
        const std::string prefix = "Proxy-Authorization: Basic ";
        if (header.compare(0, prefix.size(), prefix) == 0)
            credentials = header.substr(prefix.size());
    }

    std::istringstream words(requestLine);
    std::string method, target;
    words >> method >> target;
    if (method != "CONNECT") {
        SendText(client, "HTTP/1.1 405 Method Not Allowed\r\n\r\n");
        return;
    }
    if (!ExpectedCredentials.empty() && credentials != ExpectedCredentials) {
        SendText(client, "HTTP/1.1 407 Proxy Authentication Required\r\nProxy-Authenticate: Basic realm=\"tunnel\"\r\n\r\n");
        return;
    }
    const std::size_t colon = target.rfind(':');
    StreamSocket server;
    try {
        if (colon == std::string::npos)
            throw Poco::InvalidArgumentException("no port");
        server = Service.ConnectUpstream(target.substr(0, colon), std::stoi(target.substr(colon + 1)));
    } catch (const std::exception&) {
        SendText(client, "HTTP/1.1 502 Bad Gateway\r\n\r\n");
        return;
    }
    SendText(client, "HTTP/1.1 200 Connection established\r\n\r\n");
    const std::string rest = reader.TakeRest();
    if (!rest.empty())
        SendText(server, rest);
    Relay(client, server);
}
