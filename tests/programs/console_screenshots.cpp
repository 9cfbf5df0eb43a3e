// Takes a picture of each console dialog as a person sees it, into a folder (docs/): the PC
// selection, the base and the transport settings dialogs, and a connectivity test run against a
// real FTP server on loopback. Run by scripts/screenshots.sh under Xvfb.
#include <QTest>
#include <QTimer>
#include <cstdio>
#include <string>
#include "console/application.h"
#include "console/basesvc_configdlg.h"
#include "console/ferrix_configdlg2.h"
#include "console/ferrix_conntest.h"
#include "console/selectpcdlg.h"
#include "foundation/trconfig.h"
#include "ftpserver.h"
#include "testkit.h"

namespace {

std::string OutDir;

bool Shoot(QWidget& window, const std::string& name)
{
    window.show();
    if (!QTest::qWaitForWindowExposed(&window, 10000))
        return false;
    QCoreApplication::processEvents();
    std::string path = OutDir + "/" + name;
    bool saved = window.grab().save(QString::fromStdString(path));
    std::printf("%s %s\n", saved ? "saved" : "FAILED", path.c_str());
    window.hide();
    return saved;
}

const char* SampleIni = R"([General]
LogDetailed=1
TimeBetweenActions=300
ExactTimeMode=0
ExactTime=08:00 12:30 18:00
[Directory0]
TrackDirectory=/srv/tolvane/shop
[Transport]
Transport=FTP
Destination0=ftp.central.example
Destination1=backup.central.example
DestinationDirectory=MALL17
Username=CHAIN1
Password=secret
Port=21
PassiveMode=1
ProxyType=User@Site
ProxyHost=proxy.example
ProxyPort=8021
ProxyUser=shop17
ProxyPassword=proxypass
)";

bool ShootDialogs(const TempDir& dir)
{
    bool ok = true;
    {
        TSelectPcDlg dialog(nullptr);
        dialog.SetPcName("shop-17");
        ok = Shoot(dialog, "dialog-selectpc.png") && ok;
    }
    std::string ini = dir / "ferrix_local.ini";
    WriteTextFile(ini, SampleIni);
    {
        auto dialog = DlgClassOf<TBaseSvcConfigDlg>()(nullptr, "", ini, ConfigClassOf<TBaseFtConfig>());
        ok = Shoot(*dialog, "dialog-base-settings.png") && ok;
    }
    {
        auto dialog = DlgClassOf<TFerrixConfigDlg>()(nullptr, "", ini, ConfigClassOf<TTransportConfig>());
        ok = Shoot(*dialog, "dialog-transport-settings-ftp.png") && ok;
    }
    std::string copyIni = dir / "copy_local.ini";
    WriteTextFile(copyIni, "[Directory0]\nTrackDirectory=/srv/tolvane/shop\n[Transport]\nTransport=COPY\n"
                           "Destination0=/mnt/central\nDestinationDirectory=MALL17\nUsername=.\\LocalSystem\n");
    {
        auto dialog = DlgClassOf<TFerrixConfigDlg>()(nullptr, "", copyIni, ConfigClassOf<TTransportConfig>());
        ok = Shoot(*dialog, "dialog-transport-settings-copy.png") && ok;
    }
    return ok;
}

// A test of two FTP destinations: the server on loopback, and an address where nothing listens.
bool ShootConnectionTest(const TempDir& dir)
{
    FtpServer server;
    TTransportConfig config;
    config.Transport = 1;
    config.SetTrackDirectory(0, "/srv/tolvane/shop");
    config.SetDestination(0, server.Host());
    config.SetDestination(1, "127.0.0.2");
    config.DestinationDirectory = "MALL17";
    config.Username = server.User();
    config.Password = server.Password();
    config.Port = server.Port();
    config.PassiveMode = true;
    std::string cwd = dir / "cwd";
    MakeDirWithFiles(cwd, {});
    if (chdir(cwd.c_str()) != 0)
        return false;
    TConnectionTestDlg dialog(nullptr);
    dialog.Config = &config;
    dialog.resize(640, 520);
    dialog.show();
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!dialog.windowTitle().endsWith("found") && std::chrono::steady_clock::now() < end)
        QTest::qWait(20);
    return Shoot(dialog, "dialog-connectivity-test.png");
}

}  // namespace

int main(int argc, char** argv)
{
    TConsoleApplication application(argc, argv);
    OutDir = argc > 1 ? argv[1] : "docs";
    TempDir dir;
    bool ok = ShootDialogs(dir);
    ok = ShootConnectionTest(dir) && ok;
    return ok ? 0 : 1;
}
