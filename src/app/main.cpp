#include "app/CVindrelApp.h"

int main(int argc, char** argv) {
    return RunVindrel(argc, argv);
}
