// Settings of the transport service: the file-tracking settings plus transport kind,
// destinations, account, FTP options, dial-up entry and FTP proxy.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "foundation/ftconfigbase.h"

// Proxy host of a new settings object and of a file without the key: loopback, so that a
// proxy kind chosen without a host fails at once instead of reaching out to the network.
inline constexpr const char* DefaultProxyHost = "127.0.0.1";
constexpr int DefaultFtpPort = 21;
constexpr int DefaultProxyPort = 8021;

class TTransportConfig : public TBaseFtConfig {
public:
    TTransportConfig();

    // Only another TTransportConfig is accepted; anything else raises EConvertError.
    void AssignTo(TBaseFtConfig* dest) const override;
    void Assign(const TBaseFtConfig* source) override;
    // Raises EConvertError before copying anything when source is not a TTransportConfig.
    void CopyFrom(const TBaseFtConfig& source) override;
    void LoadFromIni(const TCustomIniFile& ini) override;
    void SaveToIni(TCustomIniFile& ini) const override;

    // No range test: callers pass 0 or 1.
    std::string GetDestination(int index) const { return Destinations[index]; }
    void SetDestination(int index, const std::string& value) { Destinations[index] = value; }

    std::string Connection;  // dial-up entry; empty means no dial-up
    int32_t DisconnDelay = 0;  // minutes
    std::array<std::string, 2> Destinations;
    std::string DestinationDirectory;
    std::string Username;
    std::string Password;
    uint8_t Transport = 0;  // TRANSPORT_COPY or TRANSPORT_FTP
    int32_t Port = DefaultFtpPort;
    bool PassiveMode = false;
    uint8_t ProxyType = 0;  // 0 to 6, as the FTP client numbers its proxy logon kinds
    std::string ProxyHost = DefaultProxyHost;
    int32_t ProxyPort = DefaultProxyPort;
    std::string ProxyUser;
    std::string ProxyPassword;
};

// "None" for 0 and every value above 6.
std::string ProxyTypeToStr(uint8_t proxyType);
// The value of the word of 1 to 6 in any letter case; 0 for any other word.
uint8_t StrToProxyType(const std::string& word);
