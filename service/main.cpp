// ferrix2: the transport service program.
#include <clocale>

#include "platform/service/svcapp.h"
#include "service/trsrv2.h"

int main(int argc, char* argv[])
{
    // The character set of the system's locale, for the locale-aware lower case of counting files;
    // every other category stays "C".
    std::setlocale(LC_CTYPE, "");
    TServiceApplication Application(argc, argv);
    Application.Initialize();
    TransportSvc2 = &Application.CreateForm<TTransportSvc2>();
    return Application.Run();
}
