#include "sources/HostMemory.h"

#include "sources/HostString.h"

void reportNoMemory(const char* tag, int32_t line) {
    consolePrint(HostString("NO MEMORY: ") + tag + " " + HostString::fromInt(line));
}
