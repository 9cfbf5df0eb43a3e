// ferrix2: the transport service program.
#include "platform/service/svcapp.h"
#include "service/trsrv2.h"

int main(int argc, char* argv[])
{
    TServiceApplication Application(argc, argv);
    Application.Initialize();
    TransportSvc2 = &Application.CreateForm<TTransportSvc2>();
    return Application.Run();
}
