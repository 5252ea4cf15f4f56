#include "app/ZimtorvaCompanionApp.h"
#include "backends/LinuxPlatform.h"

int main(int argc, char** argv)
{
    return zt::ZimtorvaCompanionApp::main(argc, argv, [] { return zt::makeLinuxPlatform(); });
}
