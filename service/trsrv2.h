// The transport service of ferrix2: sends every changed data file of the tracked directories to one
// or two destinations, by file copy (COPY) or by FTP.
#pragma once

#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "foundation/idftp.h"
#include "platform/files/filecontent.h"
#include "platform/files/filedescriptor.h"
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
    // COPY: <destination>/<DestinationDirectory> of the current destination, and the directory
    // CurrentRemoteDir names there; kept for the destination's pass.
    ferrix::TFileDescriptor LocalDestinationDir{-1};
    ferrix::TFileDescriptor LocalRemoteDir{-1};
    std::string FtpWorkingDir;     // working directory of the open FTP connection; empty: unknown
    std::string ActiveRasConnection;  // phonebook entry this service dialled itself
    std::set<std::string> LeftoversRemoved;  // local destination directories cleared of copy leftovers

    void ServiceCreate();
    void ServiceDestroy();

    TServiceController GetServiceController() override;
    bool StartService() override;
    void StopService() override;
    void AfterDestination() override;
    void BeforeDestination() override;
    void SplitChain(const std::string& directory, std::vector<std::string>& list) override;
    bool TransferFile(const std::string& path, const std::string& entryText, bool& continueFlag) override;

    std::string DescribeDestinations();
    void RenameCorToScb(const std::string& directory);
    // Opens the directory name of parent, which path names in texts, making it where missing; never
    // through a symbolic link. Raises with the path and the reason, a link as such.
    ferrix::TFileDescriptor ForceLocalDirectoryAt(const ferrix::TFileDescriptor& parent, const std::string& path,
                                                  const std::string& name);
    // Opens <destination>/<DestinationDirectory> of the current destination into LocalDestinationDir:
    // the configured destination path as it stands (made where missing), each component below it
    // with ForceLocalDirectoryAt. Raises when one cannot be opened.
    void OpenLocalDestination();
    // Opens the holding directory of LocalDestinationDir (itself when holding is empty) into
    // LocalRemoteDir, and once per run removes what interrupted copies left there. Forgets the
    // current directory first, so that one that could not be opened is tried again by the next file.
    void PrepareLocalDirectory(const std::string& holding);
    // Closes both, at the end of a destination's pass and at the stop.
    void CloseLocalDirectories();
    void ForceFtpDirectory(const std::string& path);
    // The file to send, opened once (OpenHandedFile); raises with the transport's text when refused.
    ferrix::TOpenedFile OpenSourceFile(const std::string& path, bool ftp) const;
    void CopyLocalFile(const ferrix::TOpenedFile& source, const ferrix::TFileDescriptor& directory,
                       const std::string& name);
    void FtpPutFile(const ferrix::TFileDescriptor& source, const std::string& sourcePath, const std::string& directory,
                    const std::string& name);
    char PathDelimiter();

    // The directory, relative to the destination, that receives the file of a local path.
    std::string RemoteDirectoryOf(const std::string& path);
    // Its last part below DestinationDirectory; empty for the file that goes straight into it.
    std::string HoldingDirectoryOf(const std::string& path);

    // The FTP connection (and, when Connection is set, the dial-up line) of the current destination.
    void EnsureConnected();
    void Disconnect();
    void RasConnect();
    void RasDisconnect();
    // Holds the dial-up line for DelayMs while the framework handles waiting control requests;
    // ends early when the service is stopping or an urgent request waits.
    void WaitBeforeHangUp(uint32_t delayMs);

    // The millisecond tick count that times the pause before a hang-up; tests replace it.
    std::function<uint32_t()> TickCount = GetTickCount;

    TTransportConfig& TrConfig();
};

// Milliseconds to hold a dial-up line before hanging it up: DisconnDelay minutes, in interval
// mode at most half the interval. Negative settings give 0; the result never exceeds INT32_MAX.
uint32_t DisconnectDelayMs(const TTransportConfig& config);

// The service object of the program.
extern TTransportSvc2* TransportSvc2;

// The control handler given to whoever controls the service: queues the code to TransportSvc2.
void ServiceController(uint32_t ctrlCode);
