// sortbench: the sort alone, as the converter runs it -- MDFLIB started, one mdffil_sort of an
// unsorted file into a sorted copy, MDFLIB ended.
//
//   sortbench INPUT OUTPUT
//
// Exit status 0 when the sorted copy was written, 1 otherwise (the status is printed).
#include "mdflib.h"

#include <cstdio>

int main(int argc, char *argv[]) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: sortbench INPUT OUTPUT\n");
        return 2;
    }
    if (mdflib_init("") != MDF_OK) return 1;
    int16_t status = mdffil_sort(argv[1], argv[2]);
    mdflib_exit();
    if (status != MDF_OK) {
        std::fprintf(stderr, "sortbench: mdffil_sort returned %d\n", status);
        return 1;
    }
    return 0;
}
