// The console's window for the transport service.
#pragma once
#include <string>
#include "console/basesvc_acess.h"
#include "foundation/trconfig.h"

class TMainWnd : public TSvcWndBase {
    Q_OBJECT
public:
    // Runs its FormCreate: the window is ready and its timer running.
    explicit TMainWnd(QWidget* parent = nullptr, const std::string& programDir = AppDir());

    // The transport service's names, the base start-up, then the window's own captions.
    void FormCreate() override;
    // Sets the account the service runs as from the local copy of its settings.
    void ApplyServiceAccount(TScManager& manager) override;
};

namespace ferrix {

inline constexpr const char* LocalSystemAccount = ".\\LocalSystem";

// The account the transport service runs as for these settings: ".\LocalSystem" with an empty
// password for FTP, an empty user or ".\LocalSystem" in any case; otherwise the user with the first
// 64 characters of the password.
void ChooseServiceAccount(const TTransportConfig& config, std::string& accountName, std::string& password);

}  // namespace ferrix
