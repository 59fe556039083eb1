// targetlogin: see targetlogin.h.
#include "targetlogin/targetlogin.h"

int main(int argc, char **argv)
{
    return runTargetLogin(argc, argv);
}
