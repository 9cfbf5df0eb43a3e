#include "ftpproxy.h"

#include <cctype>

using Poco::Net::StreamSocket;

namespace {

// One reply of an FTP server, all its lines, each ended by CR LF.
bool ReadReply(LineReader& reader, std::string& reply)
{
    reply.clear();
    std::string line;
    while (reader.ReadLine(line)) {
        reply += line + "\r\n";
        const bool last = line.size() >= 4 && std::isdigit(static_cast<unsigned char>(line[0])) && line[3] == ' ';
        if (last)
            return true;
    }
    return false;
}

// "name@a@b" split at its last "@".
void SplitAtLast(const std::string& text, std::string& head, std::string& tail)
{
    const std::size_t at = text.rfind('@');
    head = at == std::string::npos ? text : text.substr(0, at);
    tail = at == std::string::npos ? "" : text.substr(at + 1);
}

}  // namespace

ScriptedFtpProxy::ScriptedFtpProxy(ScriptedFtpProxySettings settings)
    : Settings(std::move(settings)), Service([this](StreamSocket client) { Serve(client); })
{
}

std::vector<std::string> ScriptedFtpProxy::Commands() const
{
    std::lock_guard<std::mutex> guard(Lock);
    return Received;
}

void ScriptedFtpProxy::Record(const std::string& line)
{
    std::lock_guard<std::mutex> guard(Lock);
    Received.push_back(line);
}

bool ScriptedFtpProxy::NeedsProxyLogon() const
{
    return Settings.Kind == 2 || Settings.Kind == 3 || Settings.Kind == 5 || (Settings.Kind == 1 && !Settings.User.empty());
}

// Connects to "host[:port]" (port 21 when none) and reads its welcome; tells the client when that fails.
bool ScriptedFtpProxy::ConnectToSite(const std::string& site, StreamSocket& client, StreamSocket& server)
{
    const std::size_t colon = site.rfind(':');
    const std::string host = colon == std::string::npos ? site : site.substr(0, colon);
    const int port = colon == std::string::npos ? 21 : std::stoi(site.substr(colon + 1));
    try {
        server = Service.ConnectUpstream(host, port);
        LineReader reader(server);
        std::string welcome;
        if (ReadReply(reader, welcome))
            return true;
    } catch (const std::exception&) {
    }
    SendText(client, "421 scripted proxy: can't reach " + site + "\r\n");
    return false;
}

void ScriptedFtpProxy::Serve(StreamSocket client)
{
    LineReader reader(client);
    SendText(client, "220 scripted FTP proxy ready\r\n");
    bool loggedOn = !NeedsProxyLogon();
    bool proxyUserGiven = false;
    StreamSocket server;
    bool relaying = false;
    std::string line;
    while (!relaying && reader.ReadLine(line)) {
        Record(line);
        const std::size_t blank = line.find(' ');
        std::string command = line.substr(0, blank);
        for (char& c : command)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        const std::string arg = blank == std::string::npos ? "" : line.substr(blank + 1);

        if (!loggedOn) {
            const bool userOk = command == "USER" && arg == Settings.User;
            const bool passOk = command == "PASS" && proxyUserGiven && arg == Settings.Password;
            if (userOk && Settings.AskPassword) {
                proxyUserGiven = true;
                SendText(client, "331 scripted proxy: password for the proxy account\r\n");
                continue;
            }
            if (!userOk && !passOk) {
                SendText(client, "530 scripted proxy: proxy logon refused\r\n");
                continue;
            }
            loggedOn = true;
            if (Settings.Kind != 5) {
                SendText(client, "230 scripted proxy: proxy logon accepted\r\n");
                continue;
            }
            // Transparent: the server's own logon follows through the relay.
            const std::string site = Settings.ServerHost + ":" + std::to_string(Settings.ServerPort);
            if (!ConnectToSite(site, client, server))
                return;
            SendText(client, "230 scripted proxy: proxy logon accepted\r\n");
            relaying = true;
            continue;
        }

        if ((Settings.Kind == 2 && command == "SITE") || (Settings.Kind == 3 && command == "OPEN")) {
            if (!ConnectToSite(arg, client, server))
                return;
            SendText(client, "220 scripted proxy: connected to " + arg + "\r\n");
            relaying = true;
            continue;
        }

        if ((Settings.Kind == 1 || Settings.Kind == 4) && command == "USER") {
            std::string user, site, proxyUser;
            SplitAtLast(arg, user, site);
            if (Settings.Kind == 4) {
                std::string name;
                SplitAtLast(user, name, proxyUser);
                user = name;
                if (proxyUser != Settings.User) {
                    SendText(client, "530 scripted proxy: proxy logon refused\r\n");
                    continue;
                }
            }
            if (!ConnectToSite(site, client, server))
                return;
            LineReader serverReader(server);
            std::string reply;
            SendText(server, "USER " + user + "\r\n");
            if (!ReadReply(serverReader, reply))
                return;
            if (Settings.Kind == 4 && reply.compare(0, 3, "331") == 0) {
                SendText(client, reply);
                if (!reader.ReadLine(line))
                    return;
                Record(line);
                std::string password, proxyPassword;
                SplitAtLast(line.substr(line.find(' ') + 1), password, proxyPassword);
                if (line.compare(0, 5, "PASS ") != 0 || proxyPassword != Settings.Password) {
                    SendText(client, "530 scripted proxy: proxy logon refused\r\n");
                    return;
                }
                SendText(server, "PASS " + password + "\r\n");
                if (!ReadReply(serverReader, reply))
                    return;
            }
            SendText(client, reply);
            relaying = true;
            continue;
        }

        SendText(client, "530 scripted proxy: logon expected\r\n");
    }
    if (!relaying)
        return;
    const std::string rest = reader.TakeRest();
    if (!rest.empty())
        SendText(server, rest);
    Relay(client, server, [this](const std::string& received) { Record(received); });
}
