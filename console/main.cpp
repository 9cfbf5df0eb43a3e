// ferrixcon2: the console of the transport service.
#include "console/application.h"
#include "console/ferrix_cfgmain2.h"

int main(int argc, char** argv)
{
    TConsoleApplication application(argc, argv);
    TMainWnd mainWnd;
    mainWnd.show();
    return application.exec();
}
