// tessmark operation uniqueid
#include "atommarker/atom_marker.h"

int main(int argc, char **argv)
{
    return runAtomMarker(argc, argv);
}
