// A shared object that loads but exports no DllRegisterServer.
extern "C" __attribute__((visibility("default"))) int SupportTestModuleVersion()
{
    return 1;
}
