// The transport service of ferrix2: sends every changed data file of the tracked directories to one
// or two destinations, by file copy (COPY) or by FTP.
#pragma once

#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "foundation/idftp.h"
#include "platform/time/tickcount.h"
#include "service/ftsrvbase.h"

class TTransportConfig;

class TTransportSvc2 : public TBaseFtrackerService {
public:
    TTransportSvc2();            // runs ServiceCreate
    ~TTransportSvc2() override;  // runs ServiceDestroy

    TIdFTP IdFTP;
    bool TransferActive = false;   // inside the transfer steps of TransferFile
    std::string CurrentRemoteDir;  // remote directory known to exist at the current destination
    std::string ActiveRasConnection;  // phonebook entry this service dialled itself
    std::set<std::string> LeftoversRemoved;  // local destination directories cleared of copy leftovers

    void ServiceCreate();
    void ServiceDestroy();

    TServiceController GetServiceController() override;
    bool StartService() override;
    void StopService() override;
    void AfterDestination() override;
    void BeforeDestination() override;
    void SplitChain(const std::string& Directory, std::vector<std::string>& List) override;
    bool TransferFile(const std::string& Path, const std::string& EntryText, bool& Continue) override;

    std::string DescribeDestinations();
    void RenameCorToScb(const std::string& Directory);
    void ForceLocalDirectory(const std::string& Path);
    // ForceLocalDirectory, and once per run the removal of what interrupted copies left there.
    void PrepareLocalDirectory(const std::string& Path);
    void ForceFtpDirectory(const std::string& Path);
    void CopyLocalFile(const std::string& Source, const std::string& Directory, const std::string& Name);
    void FtpPutFile(const std::string& Source, const std::string& Directory, const std::string& Name);
    char PathDelimiter();

    // The directory, relative to the destination, that receives the file of a local path.
    std::string RemoteDirectoryOf(const std::string& Path);

    // The FTP connection (and, when Connection is set, the dial-up line) of the current destination.
    void EnsureConnected();
    void Disconnect();
    void RasConnect();
    void RasDisconnect();
    // Holds the dial-up line for DelayMs while the framework handles waiting control requests;
    // ends early when the service is stopping or an urgent request waits.
    void WaitBeforeHangUp(uint32_t DelayMs);

    // The millisecond tick count that times the pause before a hang-up; tests replace it.
    std::function<uint32_t()> TickCount = GetTickCount;

    TTransportConfig& TrConfig();
};

// Milliseconds to hold a dial-up line before hanging it up: DisconnDelay minutes, in interval
// mode at most half the interval. Negative settings give 0; the result never exceeds INT32_MAX.
uint32_t DisconnectDelayMs(const TTransportConfig& Config);

// The service object of the program.
extern TTransportSvc2* TransportSvc2;

// The control handler given to whoever controls the service: queues the code to TransportSvc2.
void ServiceController(uint32_t CtrlCode);
