#include "foundation/trconfig.h"

#include "foundation/inifile.h"
#include "foundation/trcnst.h"

namespace {

constexpr const char* SectionTransport = "Transport";

constexpr const char* ProxyTypeWords[] = {
    "None", "User@Site", "SITE", "OPEN", "USER-PASS", "USER-PASS-USER-PASS", "HTTPFTP",
};
constexpr uint8_t ProxyTypeCount = sizeof ProxyTypeWords / sizeof ProxyTypeWords[0];

}  // namespace

std::string ProxyTypeToStr(uint8_t proxyType)
{
    return ProxyTypeWords[proxyType < ProxyTypeCount ? proxyType : 0];
}

uint8_t StrToProxyType(const std::string& word)
{
    for (uint8_t kind = 1; kind < ProxyTypeCount; ++kind) {
        if (SameText(word, ProxyTypeWords[kind]))
            return kind;
    }
    return 0;
}

TTransportConfig::TTransportConfig() = default;

void TTransportConfig::AssignTo(TBaseFtConfig* dest) const
{
    if (dynamic_cast<TTransportConfig*>(dest) == nullptr)
        RaiseWrongAssign();
    dest->CopyFrom(*this);
}

void TTransportConfig::Assign(const TBaseFtConfig* source)
{
    if (dynamic_cast<const TTransportConfig*>(source) == nullptr)
        RaiseWrongAssign();
    CopyFrom(*source);
}

void TTransportConfig::CopyFrom(const TBaseFtConfig& source)
{
    // A plain settings object has no transport fields to give.
    const auto* other = dynamic_cast<const TTransportConfig*>(&source);
    if (other == nullptr)
        RaiseWrongAssign();
    TBaseFtConfig::CopyFrom(source);
    Connection = other->Connection;
    DisconnDelay = other->DisconnDelay;
    Destinations = other->Destinations;
    DestinationDirectory = other->DestinationDirectory;
    Username = other->Username;
    Password = other->Password;
    Transport = other->Transport;
    Port = other->Port;
    PassiveMode = other->PassiveMode;
    ProxyType = other->ProxyType;
    ProxyHost = other->ProxyHost;
    ProxyPort = other->ProxyPort;
    ProxyUser = other->ProxyUser;
    ProxyPassword = other->ProxyPassword;
}

void TTransportConfig::LoadFromIni(const TCustomIniFile& ini)
{
    TBaseFtConfig::LoadFromIni(ini);
    Connection = ini.ReadString(SectionTransport, "Connection", "");
    DisconnDelay = ini.ReadInteger(SectionTransport, "DisconnDelay", 0);
    Destinations[0] = ini.ReadString(SectionTransport, "Destination0", "");
    Destinations[1] = ini.ReadString(SectionTransport, "Destination1", "");
    // The FTP host's older place, read only when the newer key gives nothing.
    if (Destinations[0].empty())
        Destinations[0] = ini.ReadString("FTP", "Host", "");
    DestinationDirectory = ini.ReadString(SectionTransport, "DestinationDirectory", "");
    Username = ini.ReadString(SectionTransport, "Username", "");
    Password = ini.ReadString(SectionTransport, "Password", "");
    Transport = StrToTransport(ini.ReadString(SectionTransport, "Transport", TRANSPORT_COPY_STR));
    Port = ini.ReadInteger(SectionTransport, "Port", DefaultFtpPort);
    PassiveMode = ini.ReadBool(SectionTransport, "PassiveMode", false);
    ProxyType = StrToProxyType(ini.ReadString(SectionTransport, "ProxyType", ""));
    ProxyHost = ini.ReadString(SectionTransport, "ProxyHost", DefaultProxyHost);
    ProxyPort = ini.ReadInteger(SectionTransport, "ProxyPort", DefaultProxyPort);
    ProxyUser = ini.ReadString(SectionTransport, "ProxyUser", "");
    ProxyPassword = ini.ReadString(SectionTransport, "ProxyPassword", "");
}

void TTransportConfig::SaveToIni(TCustomIniFile& ini) const
{
    TBaseFtConfig::SaveToIni(ini);
    ini.WriteString(SectionTransport, "Connection", Connection);
    ini.WriteInteger(SectionTransport, "DisconnDelay", DisconnDelay);
    ini.WriteString(SectionTransport, "Destination0", Destinations[0]);
    ini.WriteString(SectionTransport, "Destination1", Destinations[1]);
    ini.WriteString(SectionTransport, "DestinationDirectory", DestinationDirectory);
    ini.WriteString(SectionTransport, "Username", Username);
    ini.WriteString(SectionTransport, "Password", Password);
    ini.WriteString(SectionTransport, "Transport", TransportToStr(Transport));
    ini.WriteInteger(SectionTransport, "Port", Port);
    ini.WriteBool(SectionTransport, "PassiveMode", PassiveMode);
    ini.WriteString(SectionTransport, "ProxyType", ProxyTypeToStr(ProxyType));
    ini.WriteString(SectionTransport, "ProxyHost", ProxyHost);
    ini.WriteInteger(SectionTransport, "ProxyPort", ProxyPort);
    ini.WriteString(SectionTransport, "ProxyUser", ProxyUser);
    ini.WriteString(SectionTransport, "ProxyPassword", ProxyPassword);
}
